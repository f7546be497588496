#include "Unit3.h"

#include <QLabel>
#include <QPushButton>

#include "ui_Unit3.h"

TForm3::TForm3(QWidget* Parent)
    : QWidget(Parent, Qt::Window | Qt::WindowStaysOnTopHint), ui(std::make_unique<Ui::TForm3>())
{
    ui->setupUi(this);
    // The labels' boxes were measured for 10 point at 96 dots per inch, that
    // is 13 pixels: at any other size their texts wrap out of the boxes.
    for (QLabel* Label : {ui->Label1, ui->Label2, ui->Label3, ui->Label4, ui->Label5, ui->Label6,
                          ui->Label7, ui->Label8, ui->Label9, ui->Label10, ui->Label11}) {
        QFont Font = Label->font();
        Font.setPixelSize(13);
        Label->setFont(Font);
    }
    move(190, 160);
    connect(ui->Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
}

TForm3::~TForm3() = default;

void TForm3::Button1Click()
{
    hide();
}
