// Feeds arbitrary bytes to the bitmap reader. Whatever decodes must write
// a file that reads back to the same pixels and writes the same bytes again.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "BitmapFile.h"

namespace {

bool SameImage(const tavrin::TWin& A, const tavrin::TWin& B)
{
    if (A.Width() != B.Width() || A.Height() != B.Height() || A.Stride != B.Stride)
        return false;
    for (std::int32_t y = 0; y < A.Height() && A.Width() > 0; ++y)
        if (std::memcmp(A.Row(y), B.Row(y), 3 * std::size_t(A.Width())) != 0)
            return false;
    return true;
}

// Images within the size limits but of more pixels than a 64 KiB input can
// fill at 8 bits cost the search a long zero fill each and teach it nothing;
// the size checks are still reached, since images past the limits are
// refused before allocation.
bool HugeButAllowed(const std::uint8_t* Data, std::size_t Size)
{
    if (Size < 26)
        return false;
    const auto get16 = [&](std::size_t At) { return std::int64_t(Data[At] | Data[At + 1] << 8); };
    const auto get32 = [&](std::size_t At) {
        return std::int32_t(std::uint32_t(get16(At)) | std::uint32_t(get16(At + 2)) << 16);
    };
    const bool core = get32(14) == 12;
    const std::int64_t width = core ? get16(18) : get32(18);
    const std::int64_t height = core ? get16(20) : std::abs(std::int64_t(get32(22)));
    const std::int64_t side = tavrin::TWin::MaxSide;
    return width <= side && height <= side && width * height > (std::int64_t(1) << 16);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
    if (HugeButAllowed(Data, Size))
        return 0;
    tavrin::TWin image;
    try {
        image = tavrin::DecodeBitmap(Data, Size);
    } catch (const tavrin::SurfaceError&) {
        return 0;
    }
    const std::vector<std::uint8_t> file = tavrin::EncodeBitmap(image);
    if (file.size() != 54 + std::size_t(image.Stride) * image.Height())
        std::abort();
    const tavrin::TWin again = tavrin::DecodeBitmap(file.data(), file.size());
    if (!SameImage(image, again) || tavrin::EncodeBitmap(again) != file)
        std::abort();
    return 0;
}
