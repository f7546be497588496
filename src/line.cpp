#include "line.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// Heads longer than any widget are cut by the clip anyway; bounding the
// factor keeps every vertex and every product of the rasteriser well inside
// 64-bit range, whatever integer was stored.
constexpr int MaxArrowFactor = 1 << 20;

qint64 FloorDiv(qint64 Num, qint64 Den) // Den > 0
{
    return Num / Den - ((Num % Den != 0) && (Num < 0));
}

// Num / Den rounded to the nearest integer, a half going down. Den > 0.
qint64 RoundHalfDown(qint64 Num, qint64 Den)
{
    return -FloorDiv(Den - 2 * Num, 2 * Den);
}

// round(), with a half going to the even neighbour: the default rounding mode.
qint64 RoundEven(long double Value)
{
    return static_cast<qint64>(std::nearbyint(Value));
}

// Where a straight line runs across an extent: (Extent - PenWidth) div 2,
// truncated toward zero, so that (0 - 1) div 2 is 0, not -1.
int Middle(int Extent, int PenWidth)
{
    return (Extent - PenWidth) / 2;
}

QPolygon Triangle(QPoint Tip, QPoint P1, QPoint P2)
{
    return QPolygon({Tip, P1, P2});
}

std::array<QPolygon, 2> StraightHeads(TLineDirection Direction, int W, int H, int PW, int AF)
{
    if (Direction == TLine::drLeftRight) {
        const int y0 = Middle(H, PW);
        return {Triangle({0, y0}, {AF, y0 - AF}, {AF, y0 + AF}),
                Triangle({W - 1, y0}, {W - AF - 1, y0 - AF}, {W - AF - 1, y0 + AF})};
    }
    const int x0 = Middle(W, PW);
    return {Triangle({x0, 0}, {x0 - AF, AF}, {x0 + AF, AF}),
            Triangle({x0, H - 1}, {x0 - AF, H - AF - 1}, {x0 + AF, H - AF - 1})};
}

std::array<QPolygon, 2> DiagonalHeads(TLineDirection Direction, int W, int H, int AF)
{
    if (W <= 0)
        return {};
    // The head at the top-left corner, computed in extended precision with
    // each sum rounded once; the other corners are its reflections.
    constexpr long double HalfPi = 1.5707963267948966192313216916397514L;
    const long double Theta = std::atan(static_cast<long double>(H) / W);
    const long double Dx = RoundEven(std::cos(Theta) * (AF + 1.0L));
    const long double Dy = RoundEven(std::sin(Theta) * (AF + 1.0L));
    const long double Phi = HalfPi - Theta;
    const int A = static_cast<int>(std::max<qint64>(0, RoundEven(std::cos(Phi) * AF + Dx)));
    const int B = static_cast<int>(std::max<qint64>(0, RoundEven(Dy - std::sin(Phi) * AF)));
    const int C = static_cast<int>(std::max<qint64>(0, RoundEven(Dx - std::cos(Phi) * AF)));
    const int D = static_cast<int>(std::max<qint64>(0, RoundEven(std::sin(Phi) * AF + Dy)));

    if (Direction == TLine::drTopLeftBottomRight)
        return {Triangle({0, 0}, {A, B}, {C, D}),
                Triangle({W - 1, H - 1}, {W - 1 - C, H - 1 - D}, {W - 1 - A, H - 1 - B})};
    return {Triangle({W - 1, 0}, {W - 1 - A, B}, {W - 1 - C, D}),
            Triangle({0, H - 1}, {C, H - 1 - D}, {A, H - 1 - B})};
}

bool LineEnds(TLineDirection Direction, int W, int H, int PW, QPoint& First, QPoint& Last)
{
    switch (Direction) {
    case TLine::drLeftRight:
        First = {0, Middle(H, PW)};
        Last = {W, First.y()};
        return true;
    case TLine::drUpDown:
        First = {Middle(W, PW), 0};
        Last = {First.x(), H};
        return true;
    case TLine::drTopLeftBottomRight:
        First = {0, 0};
        Last = {W, H};
        return true;
    case TLine::drTopRightBottomLeft:
        First = {W, 0};
        Last = {0, H};
        return true;
    }
    return false;
}

// Integer coordinates name pixels; Qt's geometry runs through pixel corners.
QPointF PixelCentre(QPoint Point)
{
    return QPointF(Point) + QPointF(0.5, 0.5);
}

void DrawPixels(QPainter& Canvas, const QVector<QPoint>& Pixels, const QColor& Color)
{
    for (const QPoint& Pixel : Pixels)
        Canvas.fillRect(QRect(Pixel, QSize(1, 1)), Color);
}

// A pen of width 0 or 1 draws the exact one-pixel line; wider pens are
// stroked by Qt about the same path.
void DrawLine(QPainter& Canvas, const QPen& Pen, QPoint First, QPoint Last, const QRect& Clip)
{
    if (Pen.width() <= 1) {
        DrawPixels(Canvas, LinePixels(First, Last, Clip), Pen.color());
        return;
    }
    Canvas.setPen(Pen);
    Canvas.drawLine(PixelCentre(First), PixelCentre(Last));
}

// Filled with the brush, then outlined with the pen over the fill.
void DrawPolygon(QPainter& Canvas, const QPen& Pen, const QBrush& Brush, const QPolygon& Points,
                 const QRect& Clip)
{
    QPolygonF Centres;
    for (const QPoint& Point : Points)
        Centres << PixelCentre(Point);
    Canvas.setPen(Qt::NoPen);
    Canvas.setBrush(Brush);
    Canvas.drawPolygon(Centres);
    Canvas.setBrush(Qt::NoBrush);
    for (qsizetype i = 0; i < Points.size(); ++i)
        DrawLine(Canvas, Pen, Points[i], Points[(i + 1) % Points.size()], Clip);
}

} // namespace

TLine::TLine(QWidget* Parent) : QWidget(Parent), FPen(Qt::black, 1), FBrush(Qt::black)
{
    // A pointer line lies over labels and pictures: it must not take their clicks.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    resize(65, 4);
}

void TLine::setDirection(TLineDirection Value)
{
    if (Value == FDirection)
        return;
    FDirection = Value;
    RequestRepaint();
}

void TLine::setLineColor(const QColor& Value)
{
    if (Value == FPen.color())
        return;
    FPen.setColor(Value);
    RequestRepaint();
}

void TLine::setArrowColor(const QColor& Value)
{
    if (Value == FBrush.color())
        return;
    FBrush.setColor(Value);
    RequestRepaint();
}

// A head is drawn with the outline at width 1: while one is on, any other
// width asked for becomes 1 (and still repaints).
void TLine::setLineWidth(int Value)
{
    if (Value == FPen.width())
        return;
    if (FArrow1 || FArrow2)
        FPen.setWidth(1);
    else if (Value >= 0)
        FPen.setWidth(Value);
    RequestRepaint();
}

void TLine::setArrow1(bool Value)
{
    SetArrow(FArrow1, Value);
}

void TLine::setArrow2(bool Value)
{
    SetArrow(FArrow2, Value);
}

// A head needs the thin pen, so turning one on narrows the line.
void TLine::SetArrow(bool& Arrow, bool Value)
{
    if (Value == Arrow)
        return;
    Arrow = Value;
    if (Value)
        setLineWidth(1);
    RequestRepaint();
}

void TLine::setArrowFactor(int Value)
{
    if (Value == FArrowFactor)
        return;
    FArrowFactor = Value;
    RequestRepaint();
}

void TLine::RequestRepaint()
{
    update();
}

void TLine::paintEvent(QPaintEvent*)
{
    QPainter Canvas(this);
    Paint(Canvas);
}

void TLine::Paint(QPainter& Canvas) const
{
    const int W = width(), H = height(), PW = FPen.width();
    QPoint First, Last;
    if (!LineEnds(FDirection, W, H, PW, First, Last))
        return;
    const QRect Clip = rect();
    Canvas.save();
    Canvas.setRenderHint(QPainter::Antialiasing, false);
    Canvas.setClipRect(Clip, Qt::IntersectClip);
    DrawLine(Canvas, FPen, First, Last, Clip);
    const auto Heads = ArrowHeads(FDirection, size(), PW, FArrowFactor);
    if (FArrow1 && !Heads[0].isEmpty())
        DrawPolygon(Canvas, FPen, FBrush, Heads[0], Clip);
    if (FArrow2 && !Heads[1].isEmpty())
        DrawPolygon(Canvas, FPen, FBrush, Heads[1], Clip);
    Canvas.restore();
}

std::array<QPolygon, 2> ArrowHeads(TLineDirection Direction, QSize Size, int PenWidth, int ArrowFactor)
{
    const int AF = std::clamp(ArrowFactor, -MaxArrowFactor, MaxArrowFactor);
    switch (Direction) {
    case TLine::drLeftRight:
    case TLine::drUpDown:
        return StraightHeads(Direction, Size.width(), Size.height(), PenWidth, AF);
    case TLine::drTopLeftBottomRight:
    case TLine::drTopRightBottomLeft:
        return DiagonalHeads(Direction, Size.width(), Size.height(), AF);
    }
    return {};
}

QVector<QPoint> LinePixels(QPoint First, QPoint Last, const QRect& Clip)
{
    QVector<QPoint> Pixels;
    const qint64 Dx = qint64(Last.x()) - First.x(), Dy = qint64(Last.y()) - First.y();
    const bool Steep = std::abs(Dy) > std::abs(Dx);
    const qint64 Major = Steep ? Dy : Dx, Minor = Steep ? Dx : Dy;
    const qint64 Length = std::abs(Major);
    if (Length == 0 || Clip.isEmpty())
        return Pixels;

    // Walk only the steps whose major coordinate lies inside the clip.
    const qint64 Start = Steep ? First.y() : First.x();
    const qint64 Low = Steep ? Clip.top() : Clip.left();
    const qint64 High = Steep ? Clip.bottom() : Clip.right();
    const qint64 Step = Major > 0 ? 1 : -1;
    const qint64 From = std::max<qint64>(0, Step > 0 ? Low - Start : Start - High);
    const qint64 To = std::min<qint64>(Length - 1, Step > 0 ? High - Start : Start - Low);
    const qint64 MinorLow = Steep ? Clip.left() : Clip.top();
    const qint64 MinorHigh = Steep ? Clip.right() : Clip.bottom();
    for (qint64 i = From; i <= To; ++i) {
        const qint64 M = Start + Step * i;
        const qint64 N = (Steep ? First.x() : First.y()) + RoundHalfDown(i * Minor, Length);
        if (N < MinorLow || N > MinorHigh)
            continue;
        Pixels << (Steep ? QPoint(int(N), int(M)) : QPoint(int(M), int(N)));
    }
    return Pixels;
}
