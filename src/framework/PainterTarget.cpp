#include "PainterTarget.h"

#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>

#include <algorithm>
#include <cstdint>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TAVRIN_X86 1
#include <immintrin.h>
#endif

namespace {

#ifdef TAVRIN_X86
bool CanShuffle()
{
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    return ssse3;
}

// Four pixels a step: 12 bytes spread to 16, the fourth byte of each set.
// Reads 4 bytes past the last pixel of a step, so it leaves the last two
// pixels of the row to the caller.
__attribute__((target("ssse3"))) int SpreadRow(const std::uint8_t* In, QRgb* Out, int Count)
{
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i opaque = _mm_set1_epi32(int(0xFF000000u));
    int done = 0;
    for (; done + 6 <= Count; done += 4, In += 12, Out += 4) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(In));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(Out), _mm_or_si128(_mm_shuffle_epi8(pixels, spread), opaque));
    }
    return done;
}
#endif

// Count surface pixels (blue, green, red) as opaque 32-bit pixels, the
// format of the window's backing store.
void ConvertRow(const std::uint8_t* In, QRgb* Out, int Count)
{
    int done = 0;
#ifdef TAVRIN_X86
    if (CanShuffle())
        done = SpreadRow(In, Out, Count);
#endif
    for (In += 3 * done; done < Count; ++done, In += 3)
        Out[done] = 0xFF000000u | QRgb(In[2]) << 16 | QRgb(In[1]) << 8 | QRgb(In[0]);
}

// The painter's own pixels, where they are a 32-bit image that it reaches
// by a whole-pixel shift: the window's backing store while the window
// paints at one device pixel a logical one.
QImage* DirectPixels(QPainter& Painter)
{
    auto* image = dynamic_cast<QImage*>(Painter.paintEngine()->paintDevice());
    if (!image || (image->format() != QImage::Format_RGB32 &&
                   image->format() != QImage::Format_ARGB32_Premultiplied))
        return nullptr;
    const QTransform t = Painter.deviceTransform();
    if (t.type() > QTransform::TxTranslate || t.dx() != qRound(t.dx()) || t.dy() != qRound(t.dy()))
        return nullptr;
    return image;
}

} // namespace

QImage SurfaceImage(const tavrin::TWin& Surface, const QRect& Part)
{
    if (Part.isEmpty())
        return {};
    return QImage(Surface.Row(Part.y()) + 3 * qsizetype(Part.x()), Part.width(), Part.height(),
                  qsizetype(Surface.Stride), QImage::Format_BGR888);
}

TPainterTarget::TPainterTarget(QPainter& Painter, const QRegion& Area)
    : Painter(Painter), Area(Area),
      Ratio(Painter.device() ? Painter.device()->devicePixelRatioF() : 1.0)
{
}

// Only the pixels being painted are drawn, so that a paint costs what it
// shows, not what the surface holds. Into the window's backing store each
// pixel is converted in place, read and written once; elsewhere (a grab, a
// scaled device) a band of rows at a time is converted and drawn.
void TPainterTarget::BlockCopy(const tavrin::TWin& Source, int SrcX, int SrcY, int Width,
                               int Height, int X, int Y)
{
    const QPoint offset(X - SrcX, Y - SrcY);
    const QRect copy = QRect(X, Y, Width, Height) & QRect(offset, QSize(Source.Width(), Source.Height()));
    const auto input = [&](int Column, int Row) {
        return Source.Row(Row - offset.y()) + 3 * std::size_t(Column - offset.x());
    };
    if (QImage* store = DirectPixels(Painter)) {
        const QPoint shift(qRound(Painter.deviceTransform().dx()), qRound(Painter.deviceTransform().dy()));
        for (const QRect& part : Area) {
            const QRect target = part & copy & store->rect().translated(-shift);
            for (int row = target.top(); row <= target.bottom(); ++row)
                ConvertRow(input(target.left(), row),
                           reinterpret_cast<QRgb*>(store->scanLine(row + shift.y())) + target.left() + shift.x(),
                           target.width());
        }
        return;
    }
    const QRect target = copy & Area.boundingRect();
    if (target.isEmpty())
        return;
    constexpr int bandRows = 32;
    QImage band(target.width(), std::min(bandRows, target.height()), QImage::Format_RGB32);
    band.setDevicePixelRatio(Ratio);
    for (int top = target.top(); top <= target.bottom(); top += band.height()) {
        const int rows = std::min(band.height(), target.bottom() + 1 - top);
        for (int row = 0; row < rows; ++row)
            ConvertRow(input(target.left(), top + row), reinterpret_cast<QRgb*>(band.scanLine(row)),
                       target.width());
        // Positions are in device pixels; the painter works in logical ones.
        Painter.drawImage(QPointF(target.x() / Ratio, top / Ratio), band, QRectF(0, 0, target.width(), rows));
    }
}

void TPainterTarget::StretchCopy(const tavrin::TWin& Source, int X, int Y, int Width, int Height)
{
    const QImage image = SurfaceImage(Source, QRect(0, 0, Source.Width(), Source.Height()));
    Painter.drawImage(QRectF(X / Ratio, Y / Ratio, Width / Ratio, Height / Ratio), image);
}
