// The control panel's use of the rotate-and-place transform, restricted to a
// rectangle of the destination, so that the render can draw only the pixels
// it keeps.
#pragma once

#include <cstddef>
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
// writes, with the same values; pixels outside Clip are not touched. Clip
// may reach beyond Dest; only its part inside Dest counts. An empty Source
// draws nothing.
void PlaceTurned(const TWin& Source, TWin& Dest, std::int32_t CentreX, std::int32_t CentreY,
                 float Angle, const TRect& Clip);

// The same on a black background: every pixel inside Clip that PlaceTurned
// would leave unchanged becomes black, so the result equals a black fill of
// Clip followed by PlaceTurned, in one pass over the pixels.
void PlaceTurnedOnBlack(const TWin& Source, TWin& Dest, std::int32_t CentreX, std::int32_t CentreY,
                        float Angle, const TRect& Clip);

// Where a draw puts the pixels of a Width x Height destination: only those
// inside Area are drawn, and pixel (x, y) of it lives at At(x, y). Memory
// that holds just Area of a larger destination gets the same pixels as the
// whole destination would, without the room for the rest.
struct TDestArea {
    std::uint8_t* Bits = nullptr; // pixel (Area.Left, Area.Top)
    std::size_t Stride = 0;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    TRect Area;

    std::uint8_t* At(std::int32_t X, std::int32_t Y) const
    {
        return Bits + std::size_t(Y - Area.Top) * Stride + 3 * std::size_t(X - Area.Left);
    }
};

// PlaceTurnedOnBlack into such an area, which may reach beyond the destination.
void PlaceTurnedOnBlackArea(const TWin& Source, const TDestArea& Dest, std::int32_t CentreX,
                            std::int32_t CentreY, float Angle);

// Sine and cosine of a turn scaled by 65536, as the rotated trace uses them.
struct TTurn {
    std::int32_t Sn = 0;
    std::int32_t Cs = 0;
};

// The whole-pixel part of a 16.16 trace term: an arithmetic shift of the
// wrapped 32-bit value, which rounds toward minus infinity.
inline std::int32_t Whole(std::uint32_t Fixed)
{
    return static_cast<std::int32_t>(Fixed) >> 16;
}

// The angle code: Angle x 100 rounded to the nearest integer (ties to even),
// modulo 36000 with the sign of Angle.
std::int32_t AngleCode(float Angle);

// The coefficients of a turn by Angle degrees (taken after any reflection):
// from the table for the eight multiples of 45 degrees, otherwise computed.
TTurn TurnCoefficients(float Angle);

} // namespace tavrin
