// The program's pseudo-random generator: a 32-bit linear congruential seed.
// The noise effects draw from their own program-wide seed, 0 at start and
// never reseeded, so the noise is the same in every run (tests set RandSeed
// back to 0); any other user keeps a seed of its own, so that it never
// changes what a render produces.
#pragma once

#include <cstdint>

namespace tavrin {

extern std::uint32_t RandSeed;

// A draw of 0 .. N - 1 from Seed: advances the seed, then scales it to the range.
inline std::uint32_t Random(std::uint32_t& Seed, std::uint32_t N)
{
    Seed = Seed * 134775813u + 1u;
    return static_cast<std::uint32_t>((std::uint64_t(Seed) * N) >> 32);
}

// A draw of the noise effects.
inline std::uint32_t Random(std::uint32_t N)
{
    return Random(RandSeed, N);
}

} // namespace tavrin
