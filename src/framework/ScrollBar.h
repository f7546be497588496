// The sliders' scroll bar: Qt's, with the arrow keys moving the way they point.
#pragma once

#include <QScrollBar>

class TScrollBar : public QScrollBar {
    Q_OBJECT
public:
    using QScrollBar::QScrollBar;

protected:
    void keyPressEvent(QKeyEvent* Event) override;
};
