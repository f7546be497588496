// Bitmap (.bmp) files in memory: the reader behind TWin::LoadFromFile and
// the writer behind TWin::SaveToFile, for callers that hold the bytes
// themselves (tests, the fuzzer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "SaveFile.h"
#include "TWin.h"

namespace tavrin {

// Decodes a whole bitmap file: 1, 4, 8, 16, 24 or 32 bits per pixel,
// uncompressed, bit fields or run-length encoded, core or longer headers.
// Returns the image upright at 24 bits; a file cut short leaves its missing
// pixels black. Throws SurfaceError for a file that is not a bitmap we read
// or whose size is past the surface's limits.
TWin DecodeBitmap(const std::uint8_t* Data, std::size_t Size);

// The uncompressed 24-bit, bottom-up file that SaveToFile writes.
std::vector<std::uint8_t> EncodeBitmap(const TWin& Surface);
// The same file into File, without a copy in memory; File is not committed.
void EncodeBitmap(const TWin& Surface, TSaveFile& File);

} // namespace tavrin
