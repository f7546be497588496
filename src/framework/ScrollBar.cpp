#include "ScrollBar.h"

#include <QKeyEvent>

void TScrollBar::keyPressEvent(QKeyEvent* Event)
{
    // Qt inverts a scroll bar's controls so that the wheel scrolls the right
    // way, which also makes Left step up and Right step down. Up, Down and
    // the page keys keep Qt's meaning (Down and Page Down step up).
    const int key = Event->key();
    if (Event->modifiers() == Qt::NoModifier && (key == Qt::Key_Left || key == Qt::Key_Right)) {
        const bool forward = (key == Qt::Key_Right) != isRightToLeft();
        triggerAction(forward ? SliderSingleStepAdd : SliderSingleStepSub);
        Event->accept();
        return;
    }
    QScrollBar::keyPressEvent(Event);
}
