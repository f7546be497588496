#include "PainterTarget.h"

#include <QPaintDevice>
#include <QPainter>

QImage SurfaceImage(const tavrin::TWin& Surface)
{
    if (Surface.Empty())
        return {};
    return QImage(Surface.Bits, Surface.Width(), Surface.Height(), qsizetype(Surface.Stride),
                  QImage::Format_BGR888);
}

TPainterTarget::TPainterTarget(QPainter& Painter)
    : Painter(Painter), Ratio(Painter.device() ? Painter.device()->devicePixelRatioF() : 1.0)
{
}

void TPainterTarget::BlockCopy(const tavrin::TWin& Source, int SrcX, int SrcY, int Width,
                               int Height, int X, int Y)
{
    QImage image = SurfaceImage(Source);
    image.setDevicePixelRatio(Ratio);
    // Positions are in device pixels; the painter works in logical ones.
    Painter.drawImage(QPointF(X / Ratio, Y / Ratio), image, QRectF(SrcX, SrcY, Width, Height));
}

void TPainterTarget::StretchCopy(const tavrin::TWin& Source, int X, int Y, int Width, int Height)
{
    const QImage image = SurfaceImage(Source);
    Painter.drawImage(QRectF(X / Ratio, Y / Ratio, Width / Ratio, Height / Ratio), image);
}
