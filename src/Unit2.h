// The About window: the product's name, version and terms of use, with a
// button to accept them and one to decline, which ends the program.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TForm2;
}

class TForm2 : public QDialog {
    Q_OBJECT
public:
    explicit TForm2(QWidget* Parent = nullptr);
    ~TForm2() override;

    void OKButton1Click();
    void Button1Click();

    std::unique_ptr<Ui::TForm2> ui;

protected:
    void showEvent(QShowEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void FormPaint();
};
