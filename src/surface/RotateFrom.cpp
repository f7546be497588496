// The rotate-and-place transform. The reference path is written one pixel at
// a time in the defining order, with its rounding steps spelt out: floats
// are the parameters' single precision, long double stands for the extended
// intermediates, and the 16.16 trace wraps in uint32_t. The control panel's
// fixed arguments go to the fast PlaceTurned instead.
#include "Blend.h"
#include "PlaceTurned.h"
#include "Random.h"
#include "Reference.h"
#include "TWin.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>

namespace tavrin {
namespace {

// Trunc toward zero, kept defined for arguments no image needs: NaN counts
// as 0 and magnitudes saturate at 2^62, so that sums of a few of them still
// fit in 64 bits.
std::int64_t TruncWide(long double Value)
{
    constexpr long double limit = 0x1p62L;
    if (std::isnan(Value))
        return 0;
    if (Value >= limit)
        return std::int64_t(1) << 62;
    if (Value <= -limit)
        return -(std::int64_t(1) << 62);
    return static_cast<std::int64_t>(Value);
}

std::int32_t Saturate32(std::int64_t Value)
{
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        Value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

std::int32_t TruncInt(long double Value)
{
    return Saturate32(TruncWide(Value));
}

// A value rounded to single precision, as the operation stores it.
float Single(long double Value)
{
    return static_cast<float>(Value);
}

// The arguments of one call after the two surfaces.
struct TArgs {
    std::int32_t CentreX, CentreY;
    float Angle, ScaleX, ScaleY, ScaleStep;
    std::int32_t PivotX, PivotY, Level, Brightness;
    float Gain, Saturation;
    std::int32_t RedShift, GreenShift, BlueShift, Effect, Clamp;
    std::int32_t MarginLeft, MarginTop, MarginRight, MarginBottom;
};

struct TLevel {
    std::int32_t Blend = 0; // 0: nothing is drawn
    bool Key = false;
    bool WholeScan = false;
};

TLevel DecodeLevel(std::int32_t Level)
{
    if (Level >= 1 && Level <= 128)
        return {Level, true, false};
    if (Level >= 129 && Level <= 256)
        return {Level - 128, true, true};
    if (Level >= -128 && Level <= -1)
        return {-Level, false, false};
    if (Level >= -256 && Level <= -129)
        return {-Level - 128, false, true};
    return {};
}

// Pixels are handled as their three bytes: blue, green, red.
bool SameColour(const std::uint8_t* A, const std::uint8_t* B)
{
    return A[0] == B[0] && A[1] == B[1] && A[2] == B[2];
}

// The effect, the colour step and the blend that every drawn pixel goes
// through, with the previous colour that effect 5 and the smear read.
class TColourStep {
public:
    TColourStep(const TArgs& A, std::int32_t BlendLevel, std::int32_t ClampFlag,
                const std::uint8_t* FirstPixel)
        : Level(BlendLevel), Clamp(ClampFlag), Effect(A.Effect), Gain(A.Gain),
          Saturation(A.Saturation),
          // In 64 bits: the shifts may be any 32-bit numbers.
          Offset{std::int64_t(A.Brightness) + 2 * std::int64_t(A.BlueShift) - A.RedShift - A.GreenShift,
                 std::int64_t(A.Brightness) + 2 * std::int64_t(A.GreenShift) - A.RedShift - A.BlueShift,
                 std::int64_t(A.Brightness) + 2 * std::int64_t(A.RedShift) - A.GreenShift - A.BlueShift},
          Previous{FirstPixel[0], FirstPixel[1], FirstPixel[2]}
    {
    }

    // Draws the source colour In onto the destination pixel Out.
    void Draw(std::uint8_t* Out, const std::uint8_t* In)
    {
        const std::int32_t average = (In[0] + In[1] + In[2]) / 3;
        std::uint8_t colour[3];
        EffectColour(In, colour);
        for (int c = 0; c < 3; ++c) {
            const double v = colour[c] * double(Gain) + double(Offset[c]) -
                             (average - colour[c]) * double(Saturation);
            Out[c] = static_cast<std::uint8_t>(BlendChannel(Out[c], NewValue(TruncWide(v)), Level, Clamp));
        }
        std::copy(colour, colour + 3, Previous);
    }

private:
    void EffectColour(const std::uint8_t* In, std::uint8_t* Out) const
    {
        switch (Effect) {
        case 1: {
            const auto n = static_cast<std::uint8_t>(Random(255));
            std::fill(Out, Out + 3, n);
            return;
        }
        case 2:
            for (int c = 0; c < 3; ++c)
                Out[c] = static_cast<std::uint8_t>(Random(255));
            return;
        case 3:
            for (int c = 0; c < 3; ++c)
                Out[c] = static_cast<std::uint8_t>(255 - In[c]);
            return;
        case 4:
            std::fill(Out, Out + 3, std::uint8_t(0));
            return;
        case 5:
            for (int c = 0; c < 3; ++c)
                Out[c] = static_cast<std::uint8_t>((255 - In[c] + Previous[c]) / 2);
            return;
        default:
            break;
        }
        if (Effect >= -128 && Effect <= -1) {
            for (int c = 0; c < 3; ++c)
                Out[c] = static_cast<std::uint8_t>(BlendChannel(Previous[c], In[c], Effect + 128, 0));
            return;
        }
        std::copy(In, In + 3, Out);
    }

    // The blend's new value with the same low 8 bits as the exact one: 32-bit
    // wrap-around keeps the low 8 bits of every blend, saturation keeps a
    // clamped value.
    std::int32_t NewValue(std::int64_t V) const
    {
        return Clamp >= 1 ? Saturate32(V) : static_cast<std::int32_t>(static_cast<std::uint32_t>(V));
    }

    std::int32_t Level;
    std::int32_t Clamp;
    std::int32_t Effect;
    float Gain;
    float Saturation;
    std::int64_t Offset[3];
    std::uint8_t Previous[3];
};

const std::uint8_t* PixelAddress(const TWin& S, std::int64_t X, std::int64_t Y)
{
    return S.Row(std::int32_t(Y)) + 3 * X;
}

// Margins cut the placed picture and never shift it: every drawn pixel keeps
// the mapping source = destination - Centre + (hw, hh), also where a margin
// is larger than the part of the picture that hangs off the destination.
// The picture's own 2hw x 2hh rectangle bounds the span whatever the sign of
// the margins, so no margin reads outside the source.
void DrawUnrotated(TWin& Dest, const TWin& Source, const TArgs& A, TColourStep& Step,
                   const std::uint8_t* Key)
{
    const std::int64_t hw = Source.Width() / 2;
    const std::int64_t hh = Source.Height() / 2;
    const std::int64_t left = std::int64_t(A.CentreX) - hw;
    const std::int64_t top = std::int64_t(A.CentreY) - hh;
    const std::int64_t x0 = std::max({left + A.MarginLeft, left, std::int64_t(0)});
    const std::int64_t y0 = std::max({top + A.MarginTop, top, std::int64_t(0)});
    const std::int64_t x1 = std::min({left + 2 * hw - A.MarginRight, left + 2 * hw, std::int64_t(Dest.Width())});
    const std::int64_t y1 = std::min({top + 2 * hh - A.MarginBottom, top + 2 * hh, std::int64_t(Dest.Height())});
    for (std::int64_t y = y0; y < y1; ++y) {
        Dest.SetCursor(std::int32_t(x0), std::int32_t(y), 3);
        const std::uint8_t* in = PixelAddress(Source, x0 - left, y - top);
        for (std::int64_t x = x0; x < x1; ++x, in += 3) {
            if (!(Key && SameColour(in, Key)))
                Step.Draw(Dest.Cursor, in);
            Dest.Cursor += Dest.Step;
        }
    }
}

// The scan span's limits: a value at or above Limit becomes Limit, a
// negative one 0.
std::int64_t Limit(std::int64_t Value, std::int64_t UpperLimit)
{
    return Value >= UpperLimit ? UpperLimit : std::max<std::int64_t>(Value, 0);
}

struct TSpan {
    std::int64_t Xs, Xe, Ys, Ye;
};

// The whole-destination scan is limited like the box scan, so that margins
// that would leave the destination cannot write outside it; margins that
// keep the span inside, the only ones that make sense, are unaffected.
TSpan ScanSpan(const TWin& Dest, const TWin& Source, const TArgs& A, bool WholeScan, float ScaleX,
               float ScaleY, std::int32_t Code)
{
    const std::int64_t w = Dest.Width();
    const std::int64_t h = Dest.Height();
    TSpan s;
    if (WholeScan) {
        s = {A.MarginLeft, w - 1 - A.MarginRight, A.MarginTop, h - 1 - A.MarginBottom};
    } else {
        const std::int64_t hw = Source.Width() / 2;
        const std::int64_t hh = Source.Height() / 2;
        const std::int64_t across = TruncWide(ScaleX * static_cast<long double>(hw));
        const std::int64_t down = TruncWide(ScaleY * static_cast<long double>(hh));
        std::int64_t ex, ey;
        if (Code == 0 || Code == 18000) {
            ex = across + 1;
            ey = down + 1;
        } else if (Code == 9000 || Code == 27000) {
            ex = down + 1;
            ey = across + 1;
        } else {
            // 1.37 in extended precision: any representation of it above the
            // exact value truncates alike.
            ex = ey = TruncWide(1.37L * static_cast<long double>(std::max(across + 3, down + 3)));
        }
        s = {std::int64_t(A.CentreX) - ex + A.PivotX - 1 + A.MarginLeft,
             std::int64_t(A.CentreX) + ex + A.PivotX - A.MarginRight,
             std::int64_t(A.CentreY) - ey + A.PivotY + A.MarginTop,
             std::int64_t(A.CentreY) + ey + A.PivotY - A.MarginBottom};
    }
    return {Limit(s.Xs, w - 1), Limit(s.Xe, w - 1), Limit(s.Ys, h - 1), Limit(s.Ye, h - 1)};
}

// Where the current scales put the source: the pivot's position and the
// traced bounds.
struct TFrame {
    std::int32_t Px, Py, Ws, Hs;
};

TFrame SourceFrame(const TWin& Source, const TArgs& A, float ScaleX, float ScaleY)
{
    const long double hw = Source.Width() / 2;
    const long double hh = Source.Height() / 2;
    return {TruncInt((hw - A.PivotX) * ScaleX), TruncInt((hh - A.PivotY) * ScaleY),
            TruncInt(static_cast<long double>(Source.Width()) * ScaleX),
            TruncInt(static_cast<long double>(Source.Height()) * ScaleY)};
}

// The last traced position with the colour read there and its key decision:
// a pixel that traces to it again (also the first of the next row, when the
// scale has changed in between) takes them without reading the source.
struct TTraceCache {
    bool Valid = false;
    std::int32_t Rx = 0, Ry = 0;
    std::uint8_t Colour[3] = {};
    bool Transparent = false;
};

// Effects act on this path as on the unrotated one, with the previous colour
// carried from drawn pixel to drawn pixel in visiting order, so that a turned
// picture keeps its effect.
void DrawRotated(TWin& Dest, const TWin& Source, TArgs A, TColourStep& Step,
                 const std::uint8_t* Key, bool WholeScan)
{
    float scaleX = A.ScaleX;
    float scaleY = A.ScaleY;
    float angle = A.Angle;
    bool reflect = false;
    if (scaleY < 0) {
        scaleY = -scaleY;
        angle = Single(360.0L - (angle + 180.0L));
        reflect = true;
    }
    if (scaleX < 0) {
        scaleX = -scaleX;
        angle = Single(360.0L - static_cast<long double>(angle));
        reflect = !reflect;
    }
    const TTurn turn = TurnCoefficients(angle);
    const auto sn = static_cast<std::uint32_t>(turn.Sn);
    const auto cs = static_cast<std::uint32_t>(turn.Cs);
    const TSpan span = ScanSpan(Dest, Source, A, WholeScan, scaleX, scaleY, AngleCode(angle));

    float step = 0;
    if (A.ScaleStep != 0) {
        step = Single(A.ScaleStep / 50000.0L);
        scaleX = Single(scaleX - (Source.Width() / 2) * static_cast<long double>(step));
        scaleY = Single(scaleY - (Source.Height() / 2) * static_cast<long double>(step));
    }
    TFrame frame = SourceFrame(Source, A, scaleX, scaleY);

    Dest.Step = reflect ? -3 : 3;
    TTraceCache cache;
    for (std::int64_t y = span.Ys; y <= span.Ye; ++y) {
        if (A.ScaleStep != 0) {
            scaleX = Single(static_cast<long double>(scaleX) + step);
            scaleY = Single(static_cast<long double>(scaleY) + step);
            frame = SourceFrame(Source, A, scaleX, scaleY);
        }
        const auto dy = static_cast<std::uint32_t>(std::int64_t(A.CentreY) - 1 - y);
        const std::uint32_t rowX = dy * sn;
        const std::uint32_t rowY = dy * cs;
        const std::int64_t first = reflect ? span.Xe : span.Xs;
        const std::int64_t count = span.Xe - span.Xs;
        for (std::int64_t i = 0; i < count; ++i) {
            const std::int64_t x = reflect ? first - i : first + i;
            const std::int64_t column = reflect ? span.Xs + span.Xe - x : x;
            const auto dx = static_cast<std::uint32_t>(std::int64_t(A.CentreX) - 2 - column);
            const std::int32_t rx = static_cast<std::int32_t>(
                static_cast<std::uint32_t>(Whole(dx * cs - rowX)) + static_cast<std::uint32_t>(frame.Px));
            const std::int32_t ry = static_cast<std::int32_t>(
                static_cast<std::uint32_t>(Whole(dx * sn + rowY)) + static_cast<std::uint32_t>(frame.Py));
            if (rx < 1 || rx >= frame.Ws || ry < 1 || ry >= frame.Hs)
                continue;
            if (!(cache.Valid && cache.Rx == rx && cache.Ry == ry)) {
                const std::uint8_t* in = PixelAddress(Source, TruncWide(rx / static_cast<long double>(scaleX)),
                                                      TruncWide(ry / static_cast<long double>(scaleY)));
                cache = {true, rx, ry, {in[0], in[1], in[2]}, Key && SameColour(in, Key)};
            }
            // Addressed by (x, y): the same as the cursor's walk over the
            // consecutive pixels that pass, and right also where the trace wraps.
            std::uint8_t* out = Dest.Row(std::int32_t(y)) + 3 * x;
            if (!cache.Transparent)
                Step.Draw(out, cache.Colour);
            Dest.Cursor = out + Dest.Step;
        }
    }
}

} // namespace

std::int32_t AngleCode(float Angle)
{
    // Angle x 100 is exact in double; nearbyint rounds ties to even.
    const std::int64_t hundredths = TruncWide(std::nearbyint(double(Angle) * 100.0));
    return static_cast<std::int32_t>(hundredths % 36000);
}

TTurn TurnCoefficients(float Angle)
{
    switch (AngleCode(Angle)) {
    case 0:
        return {0, -65535};
    case 4500:
        return {-46340, -46340};
    case 9000:
        return {-65535, 0};
    case 13500:
        return {-46340, 46340};
    case 18000:
        return {0, 65535};
    case 22500:
        return {46340, 46340};
    case 27000:
        return {65535, 0};
    case 31500:
        return {46340, -46340};
    default:
        break;
    }
    // Rounding phi to single precision is part of the result: at 30 degrees
    // it gives Sn -32767 where the exact phi gives -32768.
    const float phi = Single((Angle + 180.0L) * std::numbers::pi_v<long double> / 180.0L);
    return {TruncInt(std::sin(double(phi)) * 65536.0), TruncInt(std::cos(double(phi)) * 65536.0)};
}

void reference::RotateFrom(TWin& Dest, const TWin& Source, std::int32_t CentreX,
                           std::int32_t CentreY, float Angle, float ScaleX, float ScaleY,
                           float ScaleStep, std::int32_t PivotX, std::int32_t PivotY,
                           std::int32_t Level, std::int32_t Brightness, float Gain,
                           float Saturation, std::int32_t RedShift, std::int32_t GreenShift,
                           std::int32_t BlueShift, std::int32_t Effect, std::int32_t Clamp,
                           std::int32_t MarginLeft, std::int32_t MarginTop,
                           std::int32_t MarginRight, std::int32_t MarginBottom)
{
    const TArgs a{CentreX,    CentreY,    Angle,     ScaleX,   ScaleY,     ScaleStep,
                  PivotX,     PivotY,     Level,     Brightness, Gain,     Saturation,
                  RedShift,   GreenShift, BlueShift, Effect,   Clamp,      MarginLeft,
                  MarginTop,  MarginRight, MarginBottom};
    const TLevel level = DecodeLevel(Level);
    // Pixel (0, 0) is read on every call: an empty source draws nothing.
    if (level.Blend == 0 || Source.Empty() || Dest.Empty())
        return;
    const std::uint8_t* first = Source.Row(0);
    const std::uint8_t* key = level.Key ? first : nullptr;

    const bool unrotated = TruncWide(Angle) == 0 && TruncWide(ScaleStep) == 0 && PivotX == 0 &&
                           PivotY == 0 && TruncWide(ScaleX) >= 0 && TruncWide(ScaleX) <= 1 &&
                           TruncWide(ScaleY) >= 0 && TruncWide(ScaleY) <= 1 &&
                           (TruncWide(ScaleX) != 0 || TruncWide(ScaleY) != 0) && Clamp >= 0;
    if (unrotated) {
        TColourStep step(a, level.Blend, Clamp, first);
        DrawUnrotated(Dest, Source, a, step, key);
    } else {
        // Only Clamp >= 1 counts, and every negative value's magnitude is at least 1.
        TColourStep step(a, level.Blend, Clamp < 0 ? 1 : Clamp, first);
        DrawRotated(Dest, Source, a, step, key, level.WholeScan);
    }
}

void TWin::RotateFrom(const TWin& Source, std::int32_t CentreX, std::int32_t CentreY, float Angle,
                      float ScaleX, float ScaleY, float ScaleStep, std::int32_t PivotX,
                      std::int32_t PivotY, std::int32_t Level, std::int32_t Brightness, float Gain,
                      float Saturation, std::int32_t RedShift, std::int32_t GreenShift,
                      std::int32_t BlueShift, std::int32_t Effect, std::int32_t Clamp,
                      std::int32_t MarginLeft, std::int32_t MarginTop, std::int32_t MarginRight,
                      std::int32_t MarginBottom)
{
    const bool panel = ScaleX == 1 && ScaleY == 1 && ScaleStep == 0 && PivotX == 0 && PivotY == 0 &&
                       Level == -256 && Brightness == 0 && Gain == 1 && Saturation == 0 &&
                       RedShift == 0 && GreenShift == 0 && BlueShift == 0 && Effect == 0 &&
                       Clamp == 1 && MarginLeft == 0 && MarginTop == 0 && MarginRight == 0 &&
                       MarginBottom == 0;
    if (panel)
        PlaceTurned(Source, *this, CentreX, CentreY, Angle, TRect{0, 0, Width(), Height()});
    else
        reference::RotateFrom(*this, Source, CentreX, CentreY, Angle, ScaleX, ScaleY, ScaleStep,
                              PivotX, PivotY, Level, Brightness, Gain, Saturation, RedShift,
                              GreenShift, BlueShift, Effect, Clamp, MarginLeft, MarginTop,
                              MarginRight, MarginBottom);
}

} // namespace tavrin
