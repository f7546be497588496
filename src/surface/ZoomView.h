// How the canvas shows the output at a zoom: the view's size, the steps of
// Zoom In and Zoom Out, square blocks above 100 % and the live view below.
#pragma once

#include <array>
#include <cstdint>

#include "PlaceTurned.h"
#include "Render.h"
#include "TWin.h"

namespace tavrin {

// The zoom steps, from 1/16 to 16.
constexpr std::array<double, 18> ZoomSteps{1.0 / 16, 1.0 / 12, 1.0 / 8, 1.0 / 6, 1.0 / 4, 1.0 / 3,
                                           1.0 / 2,  2.0 / 3,  1,       2,       3,       4,
                                           5,        6,        8,       10,      12,      16};

// The first step above Zoom (Direction > 0) or below it (Direction < 0);
// Zoom itself at either end.
double NextZoomStep(double Zoom, int Direction);

struct TViewSize {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
};

// The view of a Width x Height output at Zoom: each side rounded to the
// nearest pixel, at least 1.
TViewSize ViewSize(std::int32_t Width, std::int32_t Height, double Zoom);

// The largest zoom of at most 1 at which a Width x Height output fits in
// Room (both in device pixels).
double FitZoom(std::int32_t Width, std::int32_t Height, TViewSize Room);

// Above 100 %: view pixel (x, y) of a View-sized view shows pixel
// (x * W / View.Width, y * H / View.Height) of Source (W x H), so every
// pixel becomes a block. Writes the view pixels of Area into Dest, whose
// pixel (0, 0) is view pixel (Area.Left, Area.Top).
void NearestBlocks(const TWin& Source, TViewSize View, const TRect& Area, TWin& Dest);

// The output pixels that the view pixels of Area (view coordinates) show or
// cover, half-open, for a View-sized view of a Width x Height output.
TRect OutputArea(std::int32_t Width, std::int32_t Height, TViewSize View, const TRect& Area);

// Slider positions for the same picture made Scale times as large: the
// offsets scaled, the rest as they are. A render of the source downscaled
// by Scale with these looks like the full render downscaled.
SliderPositions ScaledPositions(const SliderPositions& Positions, double Scale);

} // namespace tavrin
