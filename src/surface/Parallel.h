// Whole-image loops over rows on every core. Each band of rows is written by
// one thread and every pixel is a function of the inputs alone, so the bytes
// never depend on how many threads run.
#pragma once

#include <algorithm>
#include <cstdint>

namespace tavrin {

// Below this many pixels (a few milliseconds of work) a loop runs on one
// thread: the slider's steps draw about a screenful, and waking and parking
// the other threads for each would cost more than it saves.
constexpr std::int64_t ParallelPixels = 1 << 21;

// Calls Body(Top, Bottom) for bands of rows that together cover Top .. Bottom
// - 1 (half-open), in parallel when the rows hold enough pixels to pay.
template <class TBody>
void ForRowBands(std::int32_t Top, std::int32_t Bottom, std::int64_t RowPixels, TBody&& Body)
{
    constexpr std::int32_t bandRows = 16;
    const std::int32_t bands = Bottom > Top ? (Bottom - Top + bandRows - 1) / bandRows : 0;
    const bool pays = std::int64_t(Bottom - Top) * RowPixels >= ParallelPixels;
#pragma omp parallel for schedule(dynamic) if (pays)
    for (std::int32_t band = 0; band < bands; ++band) {
        const std::int32_t top = Top + band * bandRows;
        Body(top, std::min(top + bandRows, Bottom));
    }
}

} // namespace tavrin
