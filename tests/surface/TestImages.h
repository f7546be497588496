// Fixtures shared by the engine tests: asymmetric and random pictures, and
// a byte comparison of the image part of two surfaces.
#pragma once

#include <cstdint>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "TWin.h"

namespace tavrin::test {

// Every pixel a distinct colour derived from its position, so that any
// flip, turn, shift or channel swap shows.
inline TWin PositionPicture(int Width, int Height)
{
    TWin s(Width, Height);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            std::uint8_t* p = s.Row(y) + 3 * x;
            p[0] = std::uint8_t(x);
            p[1] = std::uint8_t(y);
            p[2] = std::uint8_t(x * 7 + y * 13 + 1);
        }
    return s;
}

// Random pixels; the padding bytes are random too, so that a write to them shows.
inline TWin RandomPicture(int Width, int Height, std::uint32_t Seed)
{
    TWin s(Width, Height);
    std::mt19937 random(Seed);
    for (std::size_t i = 0; i < s.ByteCount(); ++i)
        s.Bits[i] = std::uint8_t(random());
    return s;
}

// Pixel (X, Y) as 0xRRGGBB.
inline std::uint32_t PixelAt(const TWin& S, int X, int Y)
{
    const std::uint8_t* p = S.Row(Y) + 3 * X;
    return std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
}

// Compares sizes and every image byte; reports the first pixel that differs.
inline ::testing::AssertionResult SamePixels(const TWin& A, const TWin& B)
{
    if (A.Width() != B.Width() || A.Height() != B.Height())
        return ::testing::AssertionFailure() << "sizes differ: " << A.Width() << "x" << A.Height()
                                             << " vs " << B.Width() << "x" << B.Height();
    for (int y = 0; y < A.Height(); ++y)
        for (int x = 0; x < A.Width(); ++x)
            if (PixelAt(A, x, y) != PixelAt(B, x, y))
                return ::testing::AssertionFailure()
                       << "pixel (" << x << ", " << y << ") differs: " << std::hex << PixelAt(A, x, y)
                       << " vs " << PixelAt(B, x, y);
    return ::testing::AssertionSuccess();
}

} // namespace tavrin::test
