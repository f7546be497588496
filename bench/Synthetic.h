// The benchmarks' picture: deterministic noise, so that no run is helped by
// flat areas and every run sees the same pixels.
#pragma once

#include <cstdint>

#include "TWin.h"

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
