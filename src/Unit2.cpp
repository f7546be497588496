#include "Unit2.h"

TForm2::TForm2(QWidget* Parent) : QWidget(Parent, Qt::Tool | Qt::WindowStaysOnTopHint)
{
    setWindowTitle("About Quorlix");
    resize(474, 447);
}
