// TLine: a windowless pointer line with optional filled arrow heads, placed
// on forms through Qt Designer (declared there as a custom widget, header
// "line.h").
#pragma once

#include <QBrush>
#include <QColor>
#include <QPen>
#include <QPolygon>
#include <QWidget>

#include <array>

class QPainter;

class TLine : public QWidget {
    Q_OBJECT
public:
    enum TLineDirection : quint8 { drLeftRight, drUpDown, drTopLeftBottomRight, drTopRightBottomLeft };
    Q_ENUM(TLineDirection)

    // Declared in the order in which forms store them: uic applies them in
    // that order, so a stored LineWidth is overridden by a head switched on.
    Q_PROPERTY(TLineDirection Direction READ Direction WRITE setDirection)
    Q_PROPERTY(QColor LineColor READ LineColor WRITE setLineColor)
    Q_PROPERTY(QColor ArrowColor READ ArrowColor WRITE setArrowColor)
    Q_PROPERTY(int LineWidth READ LineWidth WRITE setLineWidth)
    Q_PROPERTY(bool Arrow1 READ Arrow1 WRITE setArrow1)
    Q_PROPERTY(bool Arrow2 READ Arrow2 WRITE setArrow2)
    Q_PROPERTY(int ArrowFactor READ ArrowFactor WRITE setArrowFactor)

    explicit TLine(QWidget* Parent = nullptr);

    TLineDirection Direction() const { return FDirection; }
    QColor LineColor() const { return FPen.color(); }
    QColor ArrowColor() const { return FBrush.color(); }
    int LineWidth() const { return FPen.width(); }
    bool Arrow1() const { return FArrow1; }
    bool Arrow2() const { return FArrow2; }
    int ArrowFactor() const { return FArrowFactor; }

    void setDirection(TLineDirection Value);
    void setLineColor(const QColor& Value);
    void setArrowColor(const QColor& Value);
    void setLineWidth(int Value);
    void setArrow1(bool Value);
    void setArrow2(bool Value);
    void setArrowFactor(int Value);

    // Draws the line, then the heads that are on, with the origin at the
    // control's top-left corner, clipped to the control's rectangle.
    void Paint(QPainter& Canvas) const;

protected:
    void paintEvent(QPaintEvent* Event) override;
    // Every property change that alters the picture asks for a repaint here.
    virtual void RequestRepaint();

private:
    void SetArrow(bool& Arrow, bool Value);
    TLineDirection FDirection = drLeftRight;
    bool FArrow1 = false;
    bool FArrow2 = false;
    int FArrowFactor = 3;
    // The pen and brush outlive every paint: LineColor, LineWidth and
    // ArrowColor are their settings and have no field of their own.
    QPen FPen;
    QBrush FBrush;
};

using TLineDirection = TLine::TLineDirection;

// The two arrow heads (tip, P1, P2) of a line of the given direction drawn
// across Size with pen width PenWidth; a polygon is empty where no head can
// be drawn (a diagonal of width 0 or less, or an unknown direction).
std::array<QPolygon, 2> ArrowHeads(TLineDirection Direction, QSize Size, int PenWidth, int ArrowFactor);

// Pixels inside Clip of a one-pixel line from First towards Last, Last left
// out, chosen by the diamond rule: one pixel per column (per row when steep)
// nearest the line, a tie going to the upper (when steep, the left) pixel.
QVector<QPoint> LinePixels(QPoint First, QPoint Last, const QRect& Clip);
