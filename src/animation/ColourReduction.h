// A frame in at most 256 colours, as a GIF stores it.
#pragma once

#include <cstdint>
#include <vector>

#include "TWin.h"

namespace tavrin {

struct TIndexedFrame {
    std::vector<std::uint32_t> Palette; // 0xRRGGBB, at most 256 entries
    std::vector<std::uint8_t> Indices;  // one per pixel, rows top first, no padding
};

// A frame of 256 colours or fewer comes back exactly, its palette in the
// order the colours first appear. Any other frame goes through Leptonica's
// median-cut quantizer, without dithering, so that a still part of the
// picture keeps its colours from frame to frame.
void ReduceColours(const TWin& Frame, TIndexedFrame& Result);

} // namespace tavrin
