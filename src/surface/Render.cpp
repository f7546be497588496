#include "Render.h"

#include <algorithm>

#include "PlaceTurned.h"
#include "Reference.h"
#include "SliceMap.h"

namespace tavrin {
namespace {

SliderPositions Clamped(const SliderPositions& Positions)
{
    SliderPositions p;
    for (int i = 0; i < SliderCount; ++i)
        p.Value[std::size_t(i)] = ClampToSlider(Slider(i), Positions.Value[std::size_t(i)]);
    return p;
}

// The source's centre goes half the source in from the output's corner, plus the offsets.
std::int32_t CentreX(const TWin& Source, const SliderPositions& P)
{
    return Source.Width() / 2 + P[Slider::XPosition];
}

std::int32_t CentreY(const TWin& Source, const SliderPositions& P)
{
    return Source.Height() / 2 + P[Slider::YPosition];
}

} // namespace

std::int32_t ClampToSlider(Slider S, std::int64_t Position)
{
    const SliderRange& range = SliderRanges[std::size_t(S)];
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(Position, range.Min, range.Max));
}

// The defining pipeline clears the output, draws the whole turned picture and
// slices it in place. Here only the pixels that the slicing reads are drawn,
// each on black, and the slicing copies them to every row that shows them.
void Render(const TWin& Source, TWin& Output, const SliderPositions& Positions)
{
    const SliderPositions p = Clamped(Positions);
    const std::int32_t w = Output.Width();
    const std::int32_t h = Output.Height();
    if (Output.Empty())
        return;
    if (Source.Empty()) {
        Output.FillRect(0, 0, w - 1, h - 1, 0, 0, 0, 128);
        return; // the transform reads source pixel (0, 0) on every call
    }
    const std::int32_t cx = CentreX(Source, p);
    const std::int32_t cy = CentreY(Source, p);
    const float angle = float(p[Slider::Angle]);

    const SliceGrid grid =
        MakeSliceGrid(w, h, p[Slider::XSlice], p[Slider::YSlice], 0, 0, w - 1, h - 1);
    if (!grid.Runs()) {
        PlaceTurnedOnBlack(Source, Output, cx, cy, angle, TRect{0, 0, w, h});
        return;
    }
    const SliceMap map =
        MapSlices(grid, h, p[Slider::TavrinX], p[Slider::TavrinY], p[Slider::LockXY]);
    if (map.ChangesNothing()) {
        PlaceTurnedOnBlack(Source, Output, cx, cy, angle, TRect{0, 0, w, h});
        return;
    }
    // Over the whole output every row is written, across its whole width.
    PlaceTurnedOnBlack(Source, Output, cx, cy, angle,
                       TRect{0, map.SourceTop, grid.SliceWidth, map.SourceBottom + 1});
    ApplySlices(map, Output);
}

namespace reference {

void Render(const TWin& Source, TWin& Output, const SliderPositions& Positions)
{
    const SliderPositions p = Clamped(Positions);
    const std::int32_t w = Output.Width();
    const std::int32_t h = Output.Height();
    Output.FillRect(0, 0, w - 1, h - 1, 0, 0, 0, 128);
    if (Source.Empty() || Output.Empty())
        return;
    reference::RotateFrom(Output, Source, CentreX(Source, p), CentreY(Source, p),
                          float(p[Slider::Angle]), 1.0f, 1.0f, 0.0f, 0, 0, -256, 0, 1.0f, 0.0f, 0,
                          0, 0, 0, 1, 0, 0, 0, 0);
    reference::SliceReflect(Output, p[Slider::XSlice], p[Slider::YSlice], p[Slider::TavrinX],
                            p[Slider::TavrinY], p[Slider::LockXY], 0, 0, w - 1, h - 1);
}

} // namespace reference
} // namespace tavrin
