#include "Unit2.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>

#include "framework/Application.h"
#include "ui_Unit2.h"

TForm2::TForm2(QWidget* Parent)
    : QDialog(Parent, Qt::Tool | Qt::WindowStaysOnTopHint), ui(std::make_unique<Ui::TForm2>())
{
    ui->setupUi(this);
    // A tool window of fixed size, like the control panel: the form has no
    // layout that could fill a larger window.
    setFixedSize(size());
    ui->StaticText2->setText(QStringLiteral("Version " TAVRIN_VERSION));
    if (const QScreen* Screen = QGuiApplication::primaryScreen())
        move(Screen->geometry().center() - rect().center());
    ui->Memo1->installEventFilter(this);
    connect(ui->OKButton1, &QPushButton::clicked, this, &TForm2::OKButton1Click);
    connect(ui->Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
}

TForm2::~TForm2() = default;

void TForm2::OKButton1Click()
{
    hide();
}

void TForm2::Button1Click()
{
    TerminateApplication();
}

// The window's own paint comes when it is shown; a Qt window also repaints
// under every control that redraws itself (a pressed button, a change of
// activation), and taking the focus then would cancel a click half-way.
void TForm2::showEvent(QShowEvent* Event)
{
    QDialog::showEvent(Event);
    FormPaint();
}

// The terms have the keyboard whenever the window is drawn, so Enter agrees
// and the arrow keys scroll them.
void TForm2::FormPaint()
{
    ui->Memo1->setFocus();
}

// The read-only memo, which has the keyboard, would keep Enter to itself; in
// this window Enter agrees, as the default button does everywhere else.
bool TForm2::eventFilter(QObject* Watched, QEvent* Event)
{
    if (Watched == ui->Memo1 && Event->type() == QEvent::KeyPress) {
        const int Key = static_cast<QKeyEvent*>(Event)->key();
        if (Key == Qt::Key_Return || Key == Qt::Key_Enter) {
            ui->OKButton1->click();
            return true;
        }
    }
    return QDialog::eventFilter(Watched, Event);
}
