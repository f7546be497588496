#include "Unit3.h"

TForm3::TForm3(QWidget* Parent) : QWidget(Parent, Qt::Window | Qt::WindowStaysOnTopHint)
{
    setWindowTitle("Tavrin Help");
    setGeometry(190, 160, 653, 495);
}
