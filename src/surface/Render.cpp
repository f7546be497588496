#include "Render.h"

#include <algorithm>

namespace tavrin {

std::int32_t ClampToSlider(Slider S, std::int64_t Position)
{
    const SliderRange& range = SliderRanges[std::size_t(S)];
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(Position, range.Min, range.Max));
}

void Render(const TWin& Source, TWin& Output, const SliderPositions& Positions)
{
    SliderPositions p;
    for (int i = 0; i < SliderCount; ++i)
        p.Value[i] = ClampToSlider(Slider(i), Positions.Value[i]);

    const std::int32_t w = Output.Width();
    const std::int32_t h = Output.Height();
    Output.FillRect(0, 0, w - 1, h - 1, 0, 0, 0, 128);
    if (Source.Empty() || Output.Empty())
        return; // the transform reads source pixel (0, 0) on every call
    Output.RotateFrom(Source, Source.Width() / 2 + p[Slider::XPosition],
                      Source.Height() / 2 + p[Slider::YPosition], float(p[Slider::Angle]), 1.0f,
                      1.0f, 0.0f, 0, 0, -256, 0, 1.0f, 0.0f, 0, 0, 0, 0, 1, 0, 0, 0, 0);
    Output.SliceReflect(p[Slider::XSlice], p[Slider::YSlice], p[Slider::TavrinX],
                        p[Slider::TavrinY], p[Slider::LockXY], 0, 0, w - 1, h - 1);
}

} // namespace tavrin
