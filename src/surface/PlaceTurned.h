// The control panel's use of the rotate-and-place transform, restricted to a
// rectangle of the destination, so that the render can draw only the pixels
// it keeps.
#pragma once

#include <cstdint>

#include "TWin.h"

namespace tavrin {

// Columns Left .. Right - 1 and rows Top .. Bottom - 1 (half-open).
struct TRect {
    std::int32_t Left = 0;
    std::int32_t Top = 0;
    std::int32_t Right = 0;
    std::int32_t Bottom = 0;
};

// Writes exactly the pixels inside Clip that
//   Dest.RotateFrom(Source, CentreX, CentreY, Angle, 1, 1, 0, 0, 0, -256, 0, 1, 0,
//                   0, 0, 0, 0, 1, 0, 0, 0, 0)
// writes, with the same values; pixels outside Clip are not touched.
void PlaceTurned(const TWin& Source, TWin& Dest, std::int32_t CentreX, std::int32_t CentreY,
                 float Angle, const TRect& Clip);

} // namespace tavrin
