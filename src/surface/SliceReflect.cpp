#include "Reference.h"
#include "SliceMap.h"
#include "TWin.h"


namespace tavrin {

void TWin::SliceReflect(std::int32_t XSlices, std::int32_t YSlices, std::int32_t ReflectX,
                        std::int32_t ReflectY, std::int32_t LockXY, std::int32_t Left,
                        std::int32_t Top, std::int32_t Right, std::int32_t Bottom)
{
    const SliceGrid grid =
        MakeSliceGrid(Width(), Height(), XSlices, YSlices, Left, Top, Right, Bottom);
    if (!grid.Runs())
        return;
    if (grid.Left > 0) {
        // The rows then keep their columns left of the grid's template while
        // the rest is replaced, so they no longer map as whole rows. No caller
        // uses such a rectangle; it takes the defining loops.
        reference::SliceReflect(*this, XSlices, YSlices, ReflectX, ReflectY, LockXY, Left, Top,
                                Right, Bottom);
        return;
    }
    ApplySlices(MapSlices(grid, Height(), ReflectX, ReflectY, LockXY), *this);
}

namespace reference {
namespace {

// The state shared by the two steps of one call.
struct Slicing {
    TWin& Surface;
    std::int32_t Left, Top, Right, Bottom;
    std::int32_t SliceWidth, SliceHeight;
};

// Reads pixel (C, R) as it is now and writes it into every slice along row T.
void SpreadPixel(Slicing& S, bool FlipX, std::int32_t C, std::int32_t R, std::int32_t T)
{
    const std::uint8_t blue = S.Surface.ProbeBlue(C, R);
    const std::uint8_t green = S.Surface.ProbeGreen();
    const std::uint8_t red = S.Surface.ProbeRed();
    for (std::int32_t k = C; S.Left <= k && k <= S.Right; k += S.SliceWidth) {
        const std::int32_t u = FlipX ? S.Right - k : k;
        S.Surface.ProbeBlue(u, T);
        S.Surface.Probe[0] = blue;
        S.Surface.Probe[1] = green;
        S.Surface.Probe[2] = red;
    }
}

void SlicePass(Slicing& S, bool FlipX, bool FlipY)
{
    if (S.SliceWidth <= S.Left || S.SliceHeight <= S.Top)
        return;
    for (std::int32_t r = S.Bottom; r >= S.Top; --r)
        for (std::int32_t d = r; d >= S.Top; d -= S.SliceHeight) {
            const std::int32_t t = FlipY ? S.Bottom - d : d;
            for (std::int32_t c = S.Left; c <= S.SliceWidth - 1; ++c)
                SpreadPixel(S, FlipX, c, r, t);
        }
}

} // namespace

void SliceReflect(TWin& Surface, std::int32_t XSlices, std::int32_t YSlices, std::int32_t ReflectX,
                  std::int32_t ReflectY, std::int32_t LockXY, std::int32_t Left, std::int32_t Top,
                  std::int32_t Right, std::int32_t Bottom)
{
    const SliceGrid g = MakeSliceGrid(Surface.Width(), Surface.Height(), XSlices, YSlices, Left,
                                      Top, Right, Bottom);
    if (Surface.Empty())
        return; // no pixel to clamp the corners to
    Slicing s{Surface, g.Left, g.Top, g.Right, g.Bottom, g.SliceWidth, g.SliceHeight};
    if (LockXY == 1) {
        SlicePass(s, false, true);
        SlicePass(s, true, false);
    } else {
        SlicePass(s, ReflectX == 1, ReflectY == 1);
    }
}

} // namespace reference
} // namespace tavrin
