// PNG fixtures written with libpng itself, sample by sample, so that the
// pixels a reader should give are known without any decoder.
#pragma once

#include <png.h>
#include <zlib.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace tavrin::test {

struct TPngPicture {
    int Width = 0;
    int Height = 0;
    int ColourType = PNG_COLOR_TYPE_RGB;
    int Depth = 8;
    std::vector<std::uint16_t> Samples;   // Width x Height x channels, top row first
    std::vector<png_color> Palette;       // colour type 3
    std::vector<std::uint8_t> PaletteAlpha; // tRNS of colour type 3
    std::vector<std::uint16_t> Key;       // tRNS colour key of types 0 and 2
};

inline int Channels(int ColourType)
{
    switch (ColourType) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE:
        return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return 2;
    case PNG_COLOR_TYPE_RGB:
        return 3;
    default:
        return 4;
    }
}

inline std::vector<std::uint8_t> WritePng(const TPngPicture& P)
{
    std::vector<std::uint8_t> file;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("libpng could not write the fixture");
    }
    png_set_write_fn(
        png, &file,
        [](png_structp Png, png_bytep Data, png_size_t Size) {
            auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(Png));
            out->insert(out->end(), Data, Data + Size);
        },
        nullptr);
    png_set_IHDR(png, info, png_uint_32(P.Width), png_uint_32(P.Height), P.Depth, P.ColourType,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!P.Palette.empty())
        png_set_PLTE(png, info, P.Palette.data(), int(P.Palette.size()));
    if (!P.PaletteAlpha.empty())
        png_set_tRNS(png, info, P.PaletteAlpha.data(), int(P.PaletteAlpha.size()), nullptr);
    if (!P.Key.empty()) {
        png_color_16 key{};
        if (P.ColourType == PNG_COLOR_TYPE_GRAY)
            key.gray = P.Key[0];
        else
            key = {0, P.Key[0], P.Key[1], P.Key[2], 0};
        png_set_tRNS(png, info, nullptr, 0, &key);
    }
    png_write_info(png, info);
    const int channels = Channels(P.ColourType);
    std::vector<std::uint8_t> row;
    for (int y = 0; y < P.Height; ++y) {
        row.assign((std::size_t(P.Width) * channels * P.Depth + 7) / 8, 0);
        for (int i = 0; i < P.Width * channels; ++i) {
            const std::uint16_t v = P.Samples[std::size_t(y) * P.Width * channels + i];
            if (P.Depth == 16) {
                row[2 * i] = std::uint8_t(v >> 8);
                row[2 * i + 1] = std::uint8_t(v);
            } else {
                const int bit = i * P.Depth;
                row[bit / 8] |= std::uint8_t(v << (8 - P.Depth - bit % 8));
            }
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return file;
}

} // namespace tavrin::test
