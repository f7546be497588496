// The benchmarks' pictures, the same pixels in every run.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "TWin.h"

// Deterministic noise, so that no run is helped by flat areas.
inline tavrin::TWin SyntheticPicture(int Width, int Height)
{
    tavrin::TWin picture(Width, Height);
    std::uint32_t state = 2463534242u;
    for (std::size_t i = 0; i < picture.ByteCount(); ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        picture.Bits[i] = std::uint8_t(state >> 24);
    }
    return picture;
}

// Smooth shading with a little grain, as a photo has: it compresses as a
// photo does, where pure noise would not.
inline tavrin::TWin PhotoLikePicture(int Width, int Height)
{
    tavrin::TWin picture(Width, Height);
    std::uint32_t state = 2463534242u;
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const int grain = int(state >> 28) - 8;
            std::uint8_t* p = picture.Row(y) + 3 * x;
            const double u = x / double(Width), v = y / double(Height);
            p[0] =
                std::uint8_t(std::clamp(int(128 + 100 * std::sin(6 * u + 2 * v)) + grain, 0, 255));
            p[1] =
                std::uint8_t(std::clamp(int(128 + 90 * std::cos(5 * v - 3 * u)) + grain, 0, 255));
            p[2] =
                std::uint8_t(std::clamp(int(120 + 110 * std::sin(9 * u * v + 1)) + grain, 0, 255));
        }
    return picture;
}
