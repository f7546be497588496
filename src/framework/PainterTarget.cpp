#include "PainterTarget.h"

#include <QPaintDevice>
#include <QPainter>

#include <algorithm>
#include <cstdint>

QImage SurfaceImage(const tavrin::TWin& Surface, const QRect& Part)
{
    if (Part.isEmpty())
        return {};
    return QImage(Surface.Row(Part.y()) + 3 * qsizetype(Part.x()), Part.width(), Part.height(),
                  qsizetype(Surface.Stride), QImage::Format_BGR888);
}

TPainterTarget::TPainterTarget(QPainter& Painter, const QRect& Area)
    : Painter(Painter), Area(Area),
      Ratio(Painter.device() ? Painter.device()->devicePixelRatioF() : 1.0)
{
}

// Converts Part of the surface to the 32-bit format that the window's
// backing store holds, a band of rows at a time: each pixel is read and
// written once, the band stays in the cache, and the painter copies rows.
void TPainterTarget::BlockCopy(const tavrin::TWin& Source, int SrcX, int SrcY, int Width,
                               int Height, int X, int Y)
{
    // Only the pixels being painted are drawn, so that a paint costs what
    // it shows, not what the surface holds.
    const QPoint offset(X - SrcX, Y - SrcY);
    const QRect target = QRect(X, Y, Width, Height) & Area &
                         QRect(offset, QSize(Source.Width(), Source.Height()));
    if (target.isEmpty())
        return;
    constexpr int bandRows = 32;
    QImage band(target.width(), std::min(bandRows, target.height()), QImage::Format_RGB32);
    band.setDevicePixelRatio(Ratio);
    for (int top = target.top(); top <= target.bottom(); top += band.height()) {
        const int rows = std::min(band.height(), target.bottom() + 1 - top);
        for (int row = 0; row < rows; ++row) {
            const std::uint8_t* in = Source.Row(top - offset.y() + row) + 3 * std::size_t(target.x() - offset.x());
            auto* out = reinterpret_cast<QRgb*>(band.scanLine(row));
            for (int x = 0; x < target.width(); ++x, in += 3)
                out[x] = 0xFF000000u | QRgb(in[2]) << 16 | QRgb(in[1]) << 8 | QRgb(in[0]);
        }
        // Positions are in device pixels; the painter works in logical ones.
        Painter.drawImage(QPointF(target.x() / Ratio, top / Ratio), band, QRectF(0, 0, target.width(), rows));
    }
}

void TPainterTarget::StretchCopy(const tavrin::TWin& Source, int X, int Y, int Width, int Height)
{
    const QImage image = SurfaceImage(Source, QRect(0, 0, Source.Width(), Source.Height()));
    Painter.drawImage(QRectF(X / Ratio, Y / Ratio, Width / Ratio, Height / Ratio), image);
}
