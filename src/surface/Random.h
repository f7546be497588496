// The program-wide pseudo-random generator of the noise effects: a 32-bit
// linear congruential seed, 0 at start and never reseeded, so the noise is
// the same in every run. Tests set RandSeed back to 0.
#pragma once

#include <cstdint>

namespace tavrin {

extern std::uint32_t RandSeed;

// A draw of 0 .. N - 1: advances the seed, then scales it to the range.
inline std::uint32_t Random(std::uint32_t N)
{
    RandSeed = RandSeed * 134775813u + 1u;
    return static_cast<std::uint32_t>((std::uint64_t(RandSeed) * N) >> 32);
}

} // namespace tavrin
