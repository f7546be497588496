#include "ZoomView.h"

#include <algorithm>
#include <cmath>

namespace tavrin {

double NextZoomStep(double Zoom, int Direction)
{
    // A step within a thousandth counts as the zoom itself.
    constexpr double near = 1e-3;
    if (Direction > 0) {
        for (double step : ZoomSteps)
            if (step > Zoom * (1 + near))
                return step;
    } else {
        for (auto step = ZoomSteps.rbegin(); step != ZoomSteps.rend(); ++step)
            if (*step < Zoom * (1 - near))
                return *step;
    }
    return Zoom;
}

TViewSize ViewSize(std::int32_t Width, std::int32_t Height, double Zoom)
{
    const auto side = [Zoom](std::int32_t Length) {
        return std::int32_t(std::max(1.0, std::round(double(Length) * Zoom)));
    };
    return {side(Width), side(Height)};
}

double FitZoom(std::int32_t Width, std::int32_t Height, TViewSize Room)
{
    if (Width <= 0 || Height <= 0)
        return 1;
    return std::min({1.0, double(Room.Width) / Width, double(Room.Height) / Height});
}

void NearestBlocks(const TWin& Source, TViewSize View, const TRect& Area, TWin& Dest)
{
    const std::int64_t w = Source.Width();
    const std::int64_t h = Source.Height();
    for (std::int32_t y = Area.Top; y < Area.Bottom; ++y) {
        const std::uint8_t* in = Source.Row(std::int32_t(y * h / View.Height));
        std::uint8_t* out = Dest.Row(y - Area.Top);
        for (std::int32_t x = Area.Left; x < Area.Right; ++x, out += 3) {
            const std::uint8_t* p = in + 3 * (x * w / View.Width);
            out[0] = p[0];
            out[1] = p[1];
            out[2] = p[2];
        }
    }
}

TRect OutputArea(std::int32_t Width, std::int32_t Height, TViewSize View, const TRect& Area)
{
    // View pixel x covers output columns x * W / V up to (x + 1) * W / V.
    const auto first = [](std::int64_t At, std::int64_t Length, std::int64_t Shown) {
        return std::int32_t(At * Length / Shown);
    };
    const auto past = [](std::int64_t At, std::int64_t Length, std::int64_t Shown) {
        return std::int32_t((At * Length + Shown - 1) / Shown);
    };
    return {first(Area.Left, Width, View.Width), first(Area.Top, Height, View.Height),
            past(Area.Right, Width, View.Width), past(Area.Bottom, Height, View.Height)};
}

SliderPositions ScaledPositions(const SliderPositions& Positions, double Scale)
{
    SliderPositions p = Positions;
    for (Slider s : {Slider::XPosition, Slider::YPosition})
        p[s] = std::int32_t(std::lround(Positions[s] * Scale));
    return p;
}

} // namespace tavrin
