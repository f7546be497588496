// The Help window: a picture of the control panel with labels and pointer
// lines that explain each control.
#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class TForm3;
}

class TForm3 : public QWidget {
    Q_OBJECT
public:
    explicit TForm3(QWidget* Parent = nullptr);
    ~TForm3() override;

    void Button1Click();

    std::unique_ptr<Ui::TForm3> ui;
};
