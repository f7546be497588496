#include "ScrollBar.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolTip>

namespace {

// Long enough to read after the last step, short enough not to linger.
constexpr int ValueTipMs = 1500;

} // namespace

TScrollBar::TScrollBar(QWidget* Parent) : QScrollBar(Parent)
{
    // Every user move comes as an action: arrows, trough, keys, wheel, drag.
    connect(this, &QAbstractSlider::actionTriggered, this, [this] {
        MovedByMouse = QGuiApplication::mouseButtons() != Qt::NoButton;
        ShowValueAtThumb();
    });
}

void TScrollBar::setUnit(const QString& Value)
{
    Unit = Value;
    sliderChange(SliderValueChange);
}

QString TScrollBar::Number(int Value) const
{
    return QString::number(Value) + Unit;
}

QString TScrollBar::ValueText() const
{
    // During an action the position has moved and the value follows it next.
    return accessibleName() + QLatin1Char(' ') + Number(sliderPosition());
}

QString TScrollBar::RangeText() const
{
    return QStringLiteral("%1 (%2 to %3)").arg(ValueText(), Number(minimum()), Number(maximum()));
}

void TScrollBar::sliderChange(SliderChange Change)
{
    QScrollBar::sliderChange(Change);
    // Screen readers take the description from the tip.
    setToolTip(RangeText());
}

void TScrollBar::ShowValueAtThumb()
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect thumb =
        style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
    // The tip opens below and right of the point it is given.
    QToolTip::showText(mapToGlobal(thumb.topLeft()), ValueText(), this, QRect(), ValueTipMs);
}

void TScrollBar::mousePressEvent(QMouseEvent* Event)
{
    MovedByMouse = false;
    QScrollBar::mousePressEvent(Event);
}

// Qt hides any tip when a mouse button is let go: a click on an arrow would
// show its value only while the button is down.
void TScrollBar::mouseReleaseEvent(QMouseEvent* Event)
{
    QScrollBar::mouseReleaseEvent(Event);
    if (MovedByMouse)
        ShowValueAtThumb();
    MovedByMouse = false;
}

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
