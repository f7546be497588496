#include "ColourReduction.h"

#include <array>
#include <memory>

#include <leptonica/allheaders.h>

#include "SurfaceError.h"

namespace tavrin {
namespace {

std::uint32_t ColourAt(const std::uint8_t* Pixel)
{
    return std::uint32_t(Pixel[2]) << 16 | std::uint32_t(Pixel[1]) << 8 | Pixel[0];
}

// The colours of a frame while there are at most 256 of them: an open hash
// of twice that size, so that a lookup stays short.
class TColourTable {
public:
    // The colour's index, or -1 when it would be the 257th.
    int Find(std::uint32_t Colour, std::vector<std::uint32_t>& Palette)
    {
        std::uint32_t slot = (Colour * 2654435761u) >> 23;
        while (Keys[slot] != 0) {
            if (Keys[slot] == Colour + 1)
                return Values[slot];
            slot = (slot + 1) & 511;
        }
        if (Palette.size() == 256)
            return -1;
        Keys[slot] = Colour + 1;
        Values[slot] = std::uint8_t(Palette.size());
        Palette.push_back(Colour);
        return Values[slot];
    }

private:
    std::array<std::uint32_t, 512> Keys{};
    std::array<std::uint8_t, 512> Values{};
};

bool ReduceExactly(const TWin& Frame, TIndexedFrame& Result)
{
    TColourTable table;
    Result.Palette.clear();
    std::uint8_t* index = Result.Indices.data();
    for (std::int32_t y = 0; y < Frame.Height(); ++y) {
        const std::uint8_t* pixel = Frame.Row(y);
        for (std::int32_t x = 0; x < Frame.Width(); ++x, pixel += 3) {
            const int found = table.Find(ColourAt(pixel), Result.Palette);
            if (found < 0)
                return false;
            *index++ = std::uint8_t(found);
        }
    }
    return true;
}

struct TPixDelete {
    void operator()(PIX* Pix) const { pixDestroy(&Pix); }
};
using TPix = std::unique_ptr<PIX, TPixDelete>;

void Quantize(const TWin& Frame, TIndexedFrame& Result)
{
    const std::int32_t w = Frame.Width();
    const std::int32_t h = Frame.Height();
    const TPix full(pixCreateNoInit(w, h, 32));
    if (!full)
        throw SurfaceError("Not enough memory to reduce the colours of a frame");
    for (std::int32_t y = 0; y < h; ++y) {
        l_uint32* line = pixGetData(full.get()) + std::size_t(y) * pixGetWpl(full.get());
        const std::uint8_t* pixel = Frame.Row(y);
        for (std::int32_t x = 0; x < w; ++x, pixel += 3)
            line[x] = ColourAt(pixel) << 8; // red, green, blue from the top byte down
    }
    // ditherflag 0, 8 bits out, 256 colours, default significant bits and subsampling.
    const TPix reduced(pixMedianCutQuantGeneral(full.get(), 0, 8, 256, 0, 0, 0));
    PIXCMAP* map = reduced ? pixGetColormap(reduced.get()) : nullptr;
    if (!map || pixGetDepth(reduced.get()) != 8)
        throw SurfaceError("The colours of a frame could not be reduced to 256");
    Result.Palette.resize(std::size_t(pixcmapGetCount(map)));
    for (std::size_t i = 0; i < Result.Palette.size(); ++i) {
        l_int32 red = 0, green = 0, blue = 0;
        pixcmapGetColor(map, l_int32(i), &red, &green, &blue);
        Result.Palette[i] = std::uint32_t(red) << 16 | std::uint32_t(green) << 8 | std::uint32_t(blue);
    }
    std::uint8_t* index = Result.Indices.data();
    for (std::int32_t y = 0; y < h; ++y) {
        const l_uint32* line = pixGetData(reduced.get()) + std::size_t(y) * pixGetWpl(reduced.get());
        for (std::int32_t x = 0; x < w; ++x)
            *index++ = std::uint8_t(GET_DATA_BYTE(line, x));
    }
}

} // namespace

void ReduceColours(const TWin& Frame, TIndexedFrame& Result)
{
    Result.Indices.resize(std::size_t(Frame.Width()) * std::size_t(Frame.Height()));
    if (!ReduceExactly(Frame, Result))
        Quantize(Frame, Result);
}

} // namespace tavrin
