// The sliders' scroll bar: Qt's, with the arrow keys moving the way they
// point, and its value shown in words: at the thumb while the user moves it,
// on hover with its range, and to screen readers.
#pragma once

#include <QScrollBar>

class TScrollBar : public QScrollBar {
    Q_OBJECT
public:
    explicit TScrollBar(QWidget* Parent = nullptr);

    // The caption is the accessible name; Unit follows each number ("°").
    void setUnit(const QString& Value);
    // "Angle 37°".
    QString ValueText() const;
    // "Angle 37° (0° to 360°)": the hover tip and the accessible description.
    QString RangeText() const;

protected:
    void keyPressEvent(QKeyEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void sliderChange(SliderChange Change) override;

private:
    QString Number(int Value) const;
    void ShowValueAtThumb();

    QString Unit;
    // Whether the mouse has moved the slider since its button went down.
    bool MovedByMouse = false;
};
