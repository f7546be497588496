#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BitmapFile.h"
#include "TestImages.h"
#include "TWin.h"

// Counts the bytes held through operator new, so that tests can see how much
// memory a load takes at its peak. The size is kept in front of each block.
namespace {
std::size_t LiveBytes = 0;
std::size_t PeakBytes = 0;
constexpr std::size_t BlockHeader = 16; // keeps the default new alignment
} // namespace

// The replacements stay out of line, so that the compiler does not take
// their malloc and free for a mismatch with the callers' new and delete.
[[gnu::noinline]] void* operator new(std::size_t Size)
{
    if (Size > SIZE_MAX - BlockHeader)
        throw std::bad_alloc();
    void* block = std::malloc(Size + BlockHeader);
    if (!block)
        throw std::bad_alloc();
    *static_cast<std::size_t*>(block) = Size;
    LiveBytes += Size;
    PeakBytes = std::max(PeakBytes, LiveBytes);
    return static_cast<char*>(block) + BlockHeader;
}

[[gnu::noinline]] void operator delete(void* Pointer) noexcept
{
    if (!Pointer)
        return;
    char* block = static_cast<char*>(Pointer) - BlockHeader;
    LiveBytes -= *reinterpret_cast<std::size_t*>(block);
    std::free(block);
}

[[gnu::noinline]] void operator delete(void* Pointer, std::size_t) noexcept
{
    operator delete(Pointer);
}

namespace tavrin {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const std::string NotValid = "Bitmap image is not valid";

// The most memory held at once while Action runs, beyond what was held before.
std::size_t PeakExtraBytes(const std::function<void()>& Action)
{
    const std::size_t before = LiveBytes;
    PeakBytes = LiveBytes;
    Action();
    return PeakBytes - before;
}

// The message of the SurfaceError that Action throws, or "" if it throws none.
std::string ErrorOf(const std::function<void()>& Action)
{
    try {
        Action();
    } catch (const SurfaceError& error) {
        return error.what();
    }
    return "";
}

// ---- A small independent writer of test files ----

// The test picture, 13 x 7 and without symmetry, with runs for the
// run-length encoders and stretches of distinct colours for their literal
// runs (7 and 6 pixels long, so that both paddings occur). Digits index the
// colour list.
constexpr int PictureWidth = 13;
constexpr int PictureHeight = 7;
const char* const PictureRows[PictureHeight] = {
    "0000000111222", //
    "0333300111222", //
    "0300000444445", //
    "0333006666665", //
    "0300007070705", //
    "0300012345677", //
    "5555555555555", //
};

// Channels of 0 or 255 only, which every depth holds exactly.
const std::vector<std::uint32_t> EightColours = {0x0000FF, 0xFF0000, 0xFFFFFF, 0x00FF00,
                                                 0xFFFF00, 0xFF00FF, 0x00FFFF, 0x000000};
// A 1-bit file can show only two; these differ in every channel.
const std::vector<std::uint32_t> TwoColours = {0xFF0000, 0x00FFFF};

struct TLayout {
    const char* Name;
    std::uint16_t BitCount;
    std::uint32_t Compression = 0;
    std::uint32_t HeaderSize = 40;
    bool TopDown = false;
    std::array<std::uint32_t, 3> Masks{}; // red, green, blue; used with compression 3
    std::uint32_t ColoursUsed = 0;
    std::uint32_t Gap = 0; // bytes between the colour table and the pixels

    const std::vector<std::uint32_t>& Colours() const
    {
        return BitCount == 1 ? TwoColours : EightColours;
    }
    bool RunLength() const { return Compression == 1 || Compression == 2; }
};

int IndexAt(const TLayout& L, int X, int Y)
{
    return (PictureRows[Y][X] - '0') % int(L.Colours().size());
}

TWin ExpectedPicture(const TLayout& L)
{
    TWin picture(PictureWidth, PictureHeight);
    for (int y = 0; y < PictureHeight; ++y)
        for (int x = 0; x < PictureWidth; ++x) {
            const std::uint32_t colour = L.Colours()[IndexAt(L, x, y)];
            picture.Row(y)[3 * x] = std::uint8_t(colour);
            picture.Row(y)[3 * x + 1] = std::uint8_t(colour >> 8);
            picture.Row(y)[3 * x + 2] = std::uint8_t(colour >> 16);
        }
    return picture;
}

void Add16(Bytes& Out, std::uint32_t Value)
{
    Out.push_back(std::uint8_t(Value));
    Out.push_back(std::uint8_t(Value >> 8));
}

void Add32(Bytes& Out, std::uint32_t Value)
{
    Add16(Out, Value);
    Add16(Out, Value >> 16);
}

// Colour 0xRRGGBB packed into the channel masks, each channel scaled to its width.
std::uint32_t PackMasked(std::uint32_t Colour, const std::array<std::uint32_t, 3>& Masks)
{
    std::uint32_t pixel = 0;
    for (int c = 0; c < 3; ++c) {
        const std::uint32_t mask = Masks[c];
        if (mask == 0)
            continue;
        const int shift = std::countr_zero(mask);
        const std::uint64_t full = mask >> shift;
        const std::uint64_t value = (Colour >> (16 - 8 * c)) & 0xFF;
        pixel |= std::uint32_t((value * full + 127) / 255) << shift;
    }
    return pixel;
}

std::array<std::uint32_t, 3> MasksOf(const TLayout& L)
{
    if (L.Compression == 3)
        return L.Masks;
    if (L.BitCount == 16)
        return {0x7C00, 0x03E0, 0x001F};
    return {0xFF0000, 0x00FF00, 0x0000FF};
}

Bytes UncompressedRows(const TLayout& L)
{
    const std::size_t rowBytes = (L.BitCount * PictureWidth + 31) / 32 * 4;
    Bytes out;
    for (int r = 0; r < PictureHeight; ++r) {
        const int y = L.TopDown ? r : PictureHeight - 1 - r;
        Bytes row(rowBytes, 0);
        for (int x = 0; x < PictureWidth; ++x) {
            const int index = IndexAt(L, x, y);
            const std::uint32_t colour = L.Colours()[index];
            const std::uint32_t packed = PackMasked(colour, MasksOf(L));
            switch (L.BitCount) {
            case 1:
            case 4:
            case 8: {
                const int bit = x * L.BitCount;
                row[bit / 8] |= std::uint8_t(index << (8 - L.BitCount - bit % 8));
                break;
            }
            case 16:
                row[2 * x] = std::uint8_t(packed);
                row[2 * x + 1] = std::uint8_t(packed >> 8);
                break;
            case 24:
                row[3 * x] = std::uint8_t(colour);
                row[3 * x + 1] = std::uint8_t(colour >> 8);
                row[3 * x + 2] = std::uint8_t(colour >> 16);
                break;
            case 32: {
                // Without masks the fourth byte is not a colour: fill it to show it is dropped.
                const std::uint32_t value = L.Compression == 3 ? packed : packed | 0xA5000000;
                for (int b = 0; b < 4; ++b)
                    row[4 * x + b] = std::uint8_t(value >> (8 * b));
                break;
            }
            }
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

// Runs of equal pixels as encoded runs; stretches of three or more pixels
// without a pair as literal runs, padded to a 16-bit word.
Bytes RunLengths(const TLayout& L)
{
    const bool nibbles = L.BitCount == 4;
    Bytes out;
    for (int r = 0; r < PictureHeight; ++r) {
        const int y = PictureHeight - 1 - r;
        int x = 0;
        while (x < PictureWidth) {
            const int index = IndexAt(L, x, y);
            int run = 1;
            while (x + run < PictureWidth && IndexAt(L, x + run, y) == index)
                ++run;
            int literal = 0;
            while (x + literal < PictureWidth &&
                   !(x + literal + 1 < PictureWidth &&
                     IndexAt(L, x + literal, y) == IndexAt(L, x + literal + 1, y)))
                ++literal;
            if (literal >= 3) {
                out.push_back(0);
                out.push_back(std::uint8_t(literal));
                const std::size_t start = out.size();
                for (int i = 0; i < literal; ++i) {
                    const int value = IndexAt(L, x + i, y);
                    if (!nibbles)
                        out.push_back(std::uint8_t(value));
                    else if (i % 2 == 0)
                        out.push_back(std::uint8_t(value << 4));
                    else
                        out.back() |= std::uint8_t(value);
                }
                if ((out.size() - start) % 2 != 0)
                    out.push_back(0);
                x += literal;
            } else {
                out.push_back(std::uint8_t(run));
                out.push_back(std::uint8_t(nibbles ? index << 4 | index : index));
                x += run;
            }
        }
        out.push_back(0);
        out.push_back(r + 1 < PictureHeight ? 0 : 1); // end of line, or of the bitmap
    }
    return out;
}

Bytes WriteFile(const TLayout& L)
{
    const Bytes pixels = L.RunLength() ? RunLengths(L) : UncompressedRows(L);
    const bool core = L.HeaderSize == 12;
    const std::uint32_t entries =
        L.ColoursUsed != 0 ? L.ColoursUsed : L.BitCount <= 8 ? 1u << L.BitCount : 0;
    const std::uint32_t entrySize = core ? 3 : 4;
    const bool masksAfter = L.Compression == 3 && L.HeaderSize < 52;
    const std::uint32_t dataOffset =
        14 + L.HeaderSize + (masksAfter ? 12 : 0) + entries * entrySize + L.Gap;

    Bytes out = {'B', 'M'};
    Add32(out, dataOffset + std::uint32_t(pixels.size()));
    Add32(out, 0);
    Add32(out, dataOffset);
    Add32(out, L.HeaderSize);
    if (core) {
        Add16(out, PictureWidth);
        Add16(out, PictureHeight);
        Add16(out, 1);
        Add16(out, L.BitCount);
    } else {
        Add32(out, PictureWidth);
        Add32(out, std::uint32_t(L.TopDown ? -PictureHeight : PictureHeight));
        Add16(out, 1);
        Add16(out, L.BitCount);
        Add32(out, L.Compression);
        Add32(out, std::uint32_t(pixels.size()));
        Add32(out, 2835);
        Add32(out, 2835);
        Add32(out, L.ColoursUsed);
        Add32(out, 0);
        if (L.HeaderSize >= 52)
            for (std::uint32_t mask : L.Masks)
                Add32(out, mask);
        out.resize(14 + L.HeaderSize, 0);
    }
    if (masksAfter)
        for (std::uint32_t mask : L.Masks)
            Add32(out, mask);
    for (std::uint32_t i = 0; i < entries; ++i) {
        const std::uint32_t colour = i < L.Colours().size() ? L.Colours()[i] : 0x123456;
        out.push_back(std::uint8_t(colour));
        out.push_back(std::uint8_t(colour >> 8));
        out.push_back(std::uint8_t(colour >> 16));
        if (!core)
            out.push_back(0x77); // the reserved byte means nothing
    }
    out.insert(out.end(), L.Gap, 0xEE);
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

const std::array<std::uint32_t, 3> Masks565 = {0xF800, 0x07E0, 0x001F};

const TLayout Layouts[] = {
    {.Name = "Bits1", .BitCount = 1},
    {.Name = "Bits4ShortTable", .BitCount = 4, .ColoursUsed = 8},
    {.Name = "Bits8TopDown", .BitCount = 8, .TopDown = true},
    {.Name = "Bits8WithGap", .BitCount = 8, .ColoursUsed = 8, .Gap = 10},
    {.Name = "Bits16Default555", .BitCount = 16},
    {.Name = "Bits16Fields565TopDown", .BitCount = 16, .Compression = 3, .TopDown = true,
     .Masks = Masks565},
    {.Name = "Bits24", .BitCount = 24},
    {.Name = "Bits24TopDown", .BitCount = 24, .TopDown = true},
    {.Name = "Bits32NoMasks", .BitCount = 32},
    {.Name = "Bits32Fields10", .BitCount = 32, .Compression = 3,
     .Masks = {0x000003FF, 0x000FFC00, 0x3FF00000}},
    {.Name = "RunLength8", .BitCount = 8, .Compression = 1},
    {.Name = "RunLength4", .BitCount = 4, .Compression = 2},
    {.Name = "Core1", .BitCount = 1, .HeaderSize = 12},
    {.Name = "Core8", .BitCount = 8, .HeaderSize = 12},
    {.Name = "Core24", .BitCount = 24, .HeaderSize = 12},
    {.Name = "V4Fields565", .BitCount = 16, .Compression = 3, .HeaderSize = 108,
     .Masks = Masks565},
    {.Name = "V5Fields32TopDown", .BitCount = 32, .Compression = 3, .HeaderSize = 124,
     .TopDown = true, .Masks = {0x0000FF00, 0x00FF0000, 0xFF000000}},
    {.Name = "V5Bits4", .BitCount = 4, .HeaderSize = 124, .ColoursUsed = 9},
    {.Name = "V4RunLength8", .BitCount = 8, .Compression = 1, .HeaderSize = 108},
};

// A folder of its own for each test, removed afterwards.
class BitmapFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "bitmap_test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        Folder = pattern;
    }
    void TearDown() override { fs::remove_all(Folder); }

    std::string PathOf(const std::string& Name) const { return (Folder / Name).string(); }

    static void WriteBytes(const std::string& Path, const Bytes& Data)
    {
        std::ofstream out(Path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(Data.data()), std::streamsize(Data.size()));
        ASSERT_TRUE(out.good());
    }

    static Bytes ReadBytes(const std::string& Path)
    {
        std::ifstream in(Path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::vector<std::string> FolderEntries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(Folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // Loads Path into a surface that already holds a picture and checks that
    // a failure leaves it exactly as it was; returns the error message.
    static std::string LoadFailureLeavesSurface(const std::string& Path)
    {
        TWin surface = test::RandomPicture(7, 5, 11);
        const TWin before = surface;
        const std::uint8_t* bits = surface.Bits;
        const std::string message = ErrorOf([&] { surface.LoadFromFile(Path); });
        EXPECT_EQ(surface.Bits, bits);
        EXPECT_EQ(surface.Header.Height, -5);
        EXPECT_EQ(surface.Stride, before.Stride);
        EXPECT_TRUE(test::SamePixels(surface, before));
        return message;
    }

    fs::path Folder;
};

// ---- Every depth and layout reads to the same picture ----

class EveryLayout : public BitmapFiles, public ::testing::WithParamInterface<TLayout> {};

TEST_P(EveryLayout, LoadsToThePicture)
{
    const TLayout& layout = GetParam();
    const Bytes file = WriteFile(layout);
    const TWin expected = ExpectedPicture(layout);
    EXPECT_TRUE(test::SamePixels(DecodeBitmap(file.data(), file.size()), expected));

    WriteBytes(PathOf("picture.bmp"), file);
    TWin loaded(3, 3);
    loaded.LoadFromFile(PathOf("picture.bmp"));
    EXPECT_TRUE(test::SamePixels(loaded, expected));
    EXPECT_EQ(loaded.Header.Height, -PictureHeight);
    EXPECT_EQ(loaded.Stride, StrideFor(PictureWidth));
}

// A file cut anywhere past its headers still loads, its missing pixels black;
// cut inside the headers it is not valid.
TEST_P(EveryLayout, CutFilesLoadAsFarAsTheyGo)
{
    const TLayout& layout = GetParam();
    const Bytes file = WriteFile(layout);
    const TWin expected = ExpectedPicture(layout);
    const std::size_t headers = 14 + (layout.HeaderSize == 12 ? 12 : 40);
    for (std::size_t length = 0; length < file.size(); ++length) {
        SCOPED_TRACE("cut at " + std::to_string(length));
        try {
            const TWin image = DecodeBitmap(file.data(), length);
            EXPECT_GE(length, headers);
            ASSERT_EQ(image.Width(), PictureWidth);
            ASSERT_EQ(image.Height(), PictureHeight);
            for (int y = 0; y < PictureHeight; ++y)
                for (int x = 0; x < PictureWidth; ++x) {
                    const std::uint32_t pixel = test::PixelAt(image, x, y);
                    ASSERT_TRUE(pixel == 0 || pixel == test::PixelAt(expected, x, y))
                        << "pixel (" << x << ", " << y << ") is " << std::hex << pixel;
                }
        } catch (const SurfaceError& error) {
            EXPECT_EQ(error.what(), NotValid);
            EXPECT_LT(length, headers);
        }
    }
}

// Flipping bits of any one byte never crashes: the file loads at some size
// or is refused with one of the reader's messages.
TEST_P(EveryLayout, CorruptBytesLoadOrAreRefused)
{
    const Bytes good = WriteFile(GetParam());
    for (std::size_t at = 0; at < good.size(); ++at)
        for (std::uint8_t flip : {0x01, 0x10, 0x80, 0xFF}) {
            Bytes file = good;
            file[at] ^= flip;
            try {
                const TWin image = DecodeBitmap(file.data(), file.size());
                EXPECT_EQ(image.ByteCount(), std::size_t(image.Stride) * image.Height());
            } catch (const SurfaceError& error) {
                const std::string message = error.what();
                EXPECT_TRUE(message == NotValid || message.rfind("Bitmap image of ", 0) == 0)
                    << "byte " << at << ": " << message;
            }
        }
}

INSTANTIATE_TEST_SUITE_P(Bitmap, EveryLayout, ::testing::ValuesIn(Layouts),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// The good files of every layout as the fuzzer's starting corpus.
TEST(BitmapSeeds, WritesTheFuzzCorpus)
{
    const fs::path folder = TAVRIN_FUZZ_SEEDS;
    fs::create_directories(folder);
    for (const TLayout& layout : Layouts) {
        const Bytes file = WriteFile(layout);
        const fs::path path = folder / (std::string(layout.Name) + ".bmp");
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
        EXPECT_EQ(fs::file_size(path), file.size()) << path;
    }
}

// ---- Details worked by hand ----

// A bitmap file header and a 40-byte information header for hand-made files.
Bytes Headers(std::int32_t Width, std::int32_t Height, std::uint16_t BitCount,
              std::uint32_t Compression, std::uint32_t ColoursUsed, std::uint32_t DataOffset)
{
    Bytes out = {'B', 'M'};
    Add32(out, 0);
    Add32(out, 0);
    Add32(out, DataOffset);
    Add32(out, 40);
    Add32(out, std::uint32_t(Width));
    Add32(out, std::uint32_t(Height));
    Add16(out, 1);
    Add16(out, BitCount);
    Add32(out, Compression);
    Add32(out, 0);
    Add32(out, 0);
    Add32(out, 0);
    Add32(out, ColoursUsed);
    Add32(out, 0);
    return out;
}

void AddPalette(Bytes& Out, const std::vector<std::uint32_t>& Colours)
{
    for (std::uint32_t colour : Colours)
        Add32(Out, colour);
}

TWin Decode(const Bytes& File)
{
    return DecodeBitmap(File.data(), File.size());
}

std::vector<std::uint32_t> RowOf(const TWin& Image, int Y)
{
    std::vector<std::uint32_t> row;
    for (int x = 0; x < Image.Width(); ++x)
        row.push_back(test::PixelAt(Image, x, Y));
    return row;
}

TEST(BitmapRunLength, EightBitRunsMovesAndClipping)
{
    const std::vector<std::uint32_t> palette = {0x808080, 0x110000, 0x002200, 0x000033};
    Bytes file = Headers(5, 4, 8, 1, 4, 0);
    AddPalette(file, palette);
    const Bytes data = {
        3, 1,             // bottom row: three of colour 1
        0, 3, 2, 3, 0, 0, // a literal run of three, the last past the row end, padded
        0, 0,             // end of line
        2, 2,             // two of colour 2
        0, 2, 1, 1,       // move right 1, up 1
        10, 3,            // ten of colour 3, cut at the row end
        0, 0,             // end of line
        1, 1,             // one of colour 1 on the top row
        0, 2, 0, 5,       // up past the top: the image ends
        4, 2,             // never drawn
    };
    file.insert(file.end(), data.begin(), data.end());
    const TWin image = Decode(file);
    using Row = std::vector<std::uint32_t>;
    EXPECT_EQ(RowOf(image, 3), (Row{0x110000, 0x110000, 0x110000, 0x002200, 0x000033}));
    EXPECT_EQ(RowOf(image, 2), (Row{0x002200, 0x002200, 0, 0, 0}));
    EXPECT_EQ(RowOf(image, 1), (Row{0, 0, 0, 0x000033, 0x000033}));
    EXPECT_EQ(RowOf(image, 0), (Row{0x110000, 0, 0, 0, 0}));
}

TEST(BitmapRunLength, FourBitAlternatingRunsAndOddLiterals)
{
    const std::vector<std::uint32_t> palette = {0x808080, 0x110000, 0x002200, 0x000033,
                                                0x440000, 0x005500};
    Bytes file = Headers(5, 3, 4, 2, 6, 0);
    AddPalette(file, palette);
    const Bytes data = {
        5, 0x12,                   // 1 2 1 2 1
        0, 0,                      //
        0, 5, 0x31, 0x42, 0x50, 0, // literal 3 1 4 2 5, three bytes padded to four
        0, 0,                      //
        0, 3, 0x54, 0x30,          // literal 5 4 3, two bytes, no padding
        2, 0x11,                   // two of colour 1
        0, 1,                      // end of bitmap
        7, 0x11,                   // never drawn
    };
    file.insert(file.end(), data.begin(), data.end());
    const TWin image = Decode(file);
    using Row = std::vector<std::uint32_t>;
    EXPECT_EQ(RowOf(image, 2), (Row{0x110000, 0x002200, 0x110000, 0x002200, 0x110000}));
    EXPECT_EQ(RowOf(image, 1), (Row{0x000033, 0x110000, 0x440000, 0x002200, 0x005500}));
    EXPECT_EQ(RowOf(image, 0), (Row{0x005500, 0x440000, 0x000033, 0x110000, 0x110000}));
}

TEST(BitmapRunLength, TopDownIsNotValid)
{
    Bytes file = Headers(5, -3, 8, 1, 2, 0);
    AddPalette(file, {0, 0xFFFFFF});
    EXPECT_EQ(ErrorOf([&] { Decode(file); }), NotValid);
}

// Channel values v of a mask with full scale f read as v * 255 / f rounded.
TEST(BitmapChannels, MasksOfAnyWidthSpreadToFullScale)
{
    Bytes file = Headers(3, 1, 16, 3, 0, 0);
    for (std::uint32_t mask : {0xF800u, 0x07E0u, 0x001Fu})
        Add32(file, mask);
    Add16(file, 16 << 11 | 32 << 5 | 1); // 131.6, 129.5, 8.2
    Add16(file, 31 << 11 | 63 << 5 | 31);
    Add16(file, 0xFFFF & ~(0xF800 | 0x07E0)); // blue full, the rest zero
    Add16(file, 0);
    using Row = std::vector<std::uint32_t>;
    EXPECT_EQ(RowOf(Decode(file), 0), (Row{0x848208, 0xFFFFFF, 0x0000FF}));

    // No red at all, 1-bit green, 12-bit blue of which only the top 8 bits count.
    file = Headers(3, 1, 32, 3, 0, 0);
    for (std::uint32_t mask : {0x00000000u, 0x00000001u, 0x00FFF000u})
        Add32(file, mask);
    Add32(file, 0xFFFFFFFF);
    Add32(file, 0x00800000);
    Add32(file, 0x00000001);
    EXPECT_EQ(RowOf(Decode(file), 0), (Row{0x00FFFF, 0x000080, 0x00FF00}));
}

TEST(BitmapChannels, EveryContiguousMaskReadsFullAsWhite)
{
    for (int width = 1; width <= 32; ++width)
        for (int shift = 0; shift + width <= 32; shift += 3) {
            const std::uint32_t mask = std::uint32_t((std::uint64_t(1) << width) - 1) << shift;
            Bytes file = Headers(2, 1, 32, 3, 0, 0);
            for (int c = 0; c < 3; ++c)
                Add32(file, mask);
            Add32(file, mask);
            Add32(file, ~mask);
            const TWin image = Decode(file);
            EXPECT_EQ(test::PixelAt(image, 0, 0), 0xFFFFFFu) << std::hex << mask;
            EXPECT_EQ(test::PixelAt(image, 1, 0), 0u) << std::hex << mask;
        }
}

TEST(BitmapPalette, IndexPastTheTableReadsBlack)
{
    Bytes file = Headers(4, 1, 8, 0, 2, 0);
    AddPalette(file, {0x102030, 0x405060});
    file.insert(file.end(), {1, 0, 2, 255});
    using Row = std::vector<std::uint32_t>;
    EXPECT_EQ(RowOf(Decode(file), 0), (Row{0x405060, 0x102030, 0, 0}));
}

TEST(BitmapPalette, HugeColourCountIsSkippedNotAllocated)
{
    Bytes file = Headers(3, 1, 24, 0, 0xFFFFFFFF, 0);
    file.insert(file.end(), {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0});
    const std::size_t peak = PeakExtraBytes([&] {
        const TWin image = Decode(file);
        EXPECT_EQ(image.Width(), 3); // the table swallows the whole file: black pixels
        EXPECT_EQ(test::PixelAt(image, 0, 0), 0u);
    });
    EXPECT_LT(peak, 4096u);
}

// The pixels start at the file header's offset when it points past the
// colour table into the file, and right after the table otherwise.
TEST(BitmapDataOffset, UsedOnlyWhenItPointsPastTheTableIntoTheFile)
{
    const auto withOffset = [](std::uint32_t Offset, std::size_t Gap) {
        Bytes file = Headers(1, 1, 24, 0, 0, Offset);
        file.insert(file.end(), Gap, 0x99);
        file.insert(file.end(), {0x30, 0x20, 0x10, 0});
        return test::PixelAt(Decode(file), 0, 0);
    };
    EXPECT_EQ(withOffset(54 + 5, 5), 0x102030u);
    EXPECT_EQ(withOffset(54, 0), 0x102030u);
    EXPECT_EQ(withOffset(0, 0), 0x102030u);     // before the table's end
    EXPECT_EQ(withOffset(20, 0), 0x102030u);    // inside the header
    EXPECT_EQ(withOffset(5000, 0), 0x102030u);  // past the end of the file
    EXPECT_EQ(withOffset(58, 0), 0x102030u);    // at the end of the file
    EXPECT_EQ(withOffset(54 + 1, 3), 0x309999u); // inside the gap, taken as it is
}

TEST(BitmapHeaders, FaultsThatAreNotValid)
{
    const auto withField = [](std::size_t At, std::uint32_t Value, int Width) {
        Bytes file = Headers(1, 1, 24, 0, 0, 0);
        file.insert(file.end(), 4, 0);
        for (int b = 0; b < Width; ++b)
            file[At + b] = std::uint8_t(Value >> (8 * b));
        return ErrorOf([&] { Decode(file); });
    };
    EXPECT_EQ(withField(0, 'B' | 'N' << 8, 2), NotValid); // signature
    EXPECT_EQ(withField(14, 20, 4), NotValid);             // header too short for its fields
    EXPECT_EQ(withField(14, 0, 4), NotValid);
    EXPECT_EQ(withField(26, 0, 2), NotValid); // planes
    EXPECT_EQ(withField(26, 2, 2), NotValid);
    EXPECT_EQ(withField(18, std::uint32_t(-1), 4), NotValid); // negative width
    for (std::uint32_t bits : {0u, 2u, 7u, 48u, 64u})
        EXPECT_EQ(withField(28, bits, 2), NotValid) << bits << " bits";
    EXPECT_EQ(withField(30, 4, 4), NotValid); // embedded image formats
    EXPECT_EQ(withField(30, 5, 4), NotValid);
    EXPECT_EQ(withField(30, 3, 4), NotValid); // bit fields need 16 or 32 bits
    EXPECT_EQ(withField(30, 1, 4), NotValid); // 8-bit runs need 8 bits
    EXPECT_EQ(withField(30, 2, 4), NotValid);
    EXPECT_EQ(withField(22, 1, 4), ""); // the unchanged file is good

    const Bytes text = {'h', 'e', 'l', 'l', 'o', '\n'};
    EXPECT_EQ(ErrorOf([&] { Decode(text); }), NotValid);
    EXPECT_EQ(ErrorOf([&] { DecodeBitmap(nullptr, 0); }), NotValid);
}

// Sizes past the surface's limits are refused before any pixel memory is had.
TEST(BitmapHeaders, HostileSizesAreRefusedBeforeAllocation)
{
    struct Case {
        std::int32_t Width, Height;
        std::uint16_t BitCount;
    };
    for (const Case& c : {Case{32768, 1, 24}, Case{1, 32768, 8}, Case{1, INT32_MIN, 24},
                          Case{1, -32768, 1}, Case{INT32_MAX, 1, 32}, Case{32767, 32767, 24},
                          Case{32767, 10923, 1}}) {
        Bytes file = Headers(c.Width, c.Height, c.BitCount, 0, 0, 0);
        std::string message;
        const std::size_t peak = PeakExtraBytes([&] { message = ErrorOf([&] { Decode(file); }); });
        EXPECT_EQ(message.rfind("Bitmap image of ", 0), 0u) << c.Width << " x " << c.Height;
        EXPECT_LT(peak, 4096u) << c.Width << " x " << c.Height;
    }
    // The largest sides still load, empty of pixels the file does not hold.
    const TWin tall = Decode(Headers(1, -32767, 24, 0, 0, 0));
    EXPECT_EQ(tall.Height(), 32767);
    EXPECT_EQ(test::PixelAt(tall, 0, 32766), 0u);
}

TEST(BitmapHeaders, EmptyImagesAreLegal)
{
    for (const auto& [width, height] : {std::pair{0, 5}, std::pair{6, 0}, std::pair{0, 0}}) {
        const TWin image = Decode(Headers(width, height, 24, 0, 0, 0));
        EXPECT_EQ(image.Width(), width);
        EXPECT_EQ(image.Height(), height);
        EXPECT_TRUE(image.Empty());
    }
    const Bytes core = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 26, 0, 0, 0, // file header
                        12, 0, 0, 0, 0, 0, 3, 0, 1, 0, 24, 0};       // 0 x 3 core header
    EXPECT_EQ(Decode(core).Height(), 3);
}

// ---- Saving ----

TEST_F(BitmapFiles, SavesTheWrittenLayout)
{
    TWin surface = test::RandomPicture(5, 3, 7); // random padding bytes, which must not be saved
    surface.SaveToFile(PathOf("five.bmp"));
    const Bytes file = ReadBytes(PathOf("five.bmp"));
    ASSERT_EQ(file.size(), 102u);

    Bytes header = {'B', 'M'};
    Add32(header, 102);
    Add32(header, 0);
    Add32(header, 54);
    Add32(header, 40);
    Add32(header, 5);
    Add32(header, 3);
    Add16(header, 1);
    Add16(header, 24);
    Add32(header, 0);
    Add32(header, 48);
    header.resize(54, 0);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 54), header);
    for (int r = 0; r < 3; ++r) {
        const std::uint8_t* row = surface.Row(2 - r);
        const auto at = file.begin() + 54 + 16 * r;
        EXPECT_EQ(Bytes(at, at + 15), Bytes(row, row + 15)) << "file row " << r;
        EXPECT_EQ(at[15], 0) << "padding of file row " << r;
    }
    EXPECT_EQ(EncodeBitmap(surface), file);
}

TEST_F(BitmapFiles, SaveThenLoadGivesTheSameSurface)
{
    for (const auto& [width, height] : {std::pair{13, 7}, std::pair{1, 1}, std::pair{4, 9},
                                        std::pair{0, 3}}) {
        const TWin surface = test::RandomPicture(width, height, std::uint32_t(width));
        surface.SaveToFile(PathOf("round.bmp"));
        TWin loaded;
        loaded.LoadFromFile(PathOf("round.bmp"));
        EXPECT_TRUE(test::SamePixels(loaded, surface));
        EXPECT_EQ(loaded.Stride, surface.Stride);
        const Bytes file = ReadBytes(PathOf("round.bmp"));
        EXPECT_EQ(file.size(), 54 + std::size_t(surface.Stride) * height);
        EXPECT_EQ(EncodeBitmap(loaded), file);
    }
}

TEST_F(BitmapFiles, LoadRebuildsTheSurfaceAtTheFileSize)
{
    const TWin picture = test::PositionPicture(640, 480);
    picture.SaveToFile(PathOf("big.bmp"));
    TWin surface(32, 32);
    surface.SetCursor(3, 3, -3);
    surface.ProbeBlue(1, 1);
    surface.LoadFromFile(PathOf("big.bmp"));
    EXPECT_EQ(surface.Width(), 640);
    EXPECT_EQ(surface.Header.Height, -480);
    EXPECT_EQ(surface.Stride, 1920u);
    EXPECT_EQ(surface.Cursor, nullptr);
    EXPECT_EQ(surface.Probe, nullptr);
    EXPECT_EQ(surface.Step, 0);
    EXPECT_TRUE(test::SamePixels(surface, picture));
}

// A load from a file holds the new surface and a small buffer, never the
// whole file as well.
TEST_F(BitmapFiles, LoadHoldsLittleBeyondTheSurface)
{
    const TWin picture = test::RandomPicture(1001, 301, 3);
    picture.SaveToFile(PathOf("wide.bmp"));
    TWin surface;
    const std::size_t peak = PeakExtraBytes([&] { surface.LoadFromFile(PathOf("wide.bmp")); });
    EXPECT_LE(peak, surface.ByteCount() + 128 * 1024);
    EXPECT_TRUE(test::SamePixels(surface, picture));
}

TEST_F(BitmapFiles, FailedLoadsLeaveTheSurfaceAsItWas)
{
    const std::string missing = PathOf("missing.bmp");
    EXPECT_EQ(LoadFailureLeavesSurface(missing), "Cannot open file " + missing);
    EXPECT_EQ(LoadFailureLeavesSurface(Folder.string()), "Cannot open file " + Folder.string());
    // A named pipe would block a plain open until a writer comes.
    ASSERT_EQ(mkfifo(PathOf("pipe.bmp").c_str(), 0600), 0);
    EXPECT_EQ(LoadFailureLeavesSurface(PathOf("pipe.bmp")), "Cannot open file " + PathOf("pipe.bmp"));

    WriteBytes(PathOf("text.bmp"), {'j', 'u', 's', 't', ' ', 't', 'e', 'x', 't', '\n'});
    EXPECT_EQ(LoadFailureLeavesSurface(PathOf("text.bmp")), NotValid);

    WriteBytes(PathOf("huge.bmp"), Headers(40000, 3, 24, 0, 0, 0));
    EXPECT_EQ(LoadFailureLeavesSurface(PathOf("huge.bmp")).rfind("Bitmap image of ", 0), 0u);

    // Corrupt headers and cuts inside the headers, read from disk.
    const Bytes good = WriteFile(Layouts[0]);
    for (std::size_t length : {0, 1, 2, 13, 14, 17, 18, 53}) {
        WriteBytes(PathOf("cut.bmp"), Bytes(good.begin(), good.begin() + length));
        EXPECT_EQ(LoadFailureLeavesSurface(PathOf("cut.bmp")), NotValid) << length;
    }
    Bytes planes = good;
    planes[26] = 3;
    WriteBytes(PathOf("planes.bmp"), planes);
    EXPECT_EQ(LoadFailureLeavesSurface(PathOf("planes.bmp")), NotValid);
}

TEST_F(BitmapFiles, SaveToAMissingFolderWritesNothing)
{
    const std::string path = PathOf("no/such/folder.bmp");
    const TWin surface = test::RandomPicture(5, 3, 1);
    EXPECT_EQ(ErrorOf([&] { surface.SaveToFile(path); }), "Cannot create file " + path);
    EXPECT_TRUE(FolderEntries().empty());
}

TEST_F(BitmapFiles, SaveOverAFolderLeavesItAlone)
{
    fs::create_directory(PathOf("taken.bmp"));
    WriteBytes(PathOf("taken.bmp/inside"), {1, 2, 3});
    const TWin surface = test::RandomPicture(5, 3, 1);
    EXPECT_EQ(ErrorOf([&] { surface.SaveToFile(PathOf("taken.bmp")); }),
              "Cannot create file " + PathOf("taken.bmp"));
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"taken.bmp"});
    EXPECT_EQ(ReadBytes(PathOf("taken.bmp/inside")), (Bytes{1, 2, 3}));
}

// A write that fails part way (here: past the file size limit) leaves the
// old file whole and no temporary behind.
TEST_F(BitmapFiles, FailedWriteKeepsTheOldFile)
{
    const Bytes old = {'o', 'l', 'd'};
    WriteBytes(PathOf("keep.bmp"), old);
    const TWin surface = test::RandomPicture(64, 64, 2);

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 1000;
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string message = ErrorOf([&] { surface.SaveToFile(PathOf("keep.bmp")); });
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(message, "Cannot write file " + PathOf("keep.bmp"));
    EXPECT_EQ(ReadBytes(PathOf("keep.bmp")), old);
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"keep.bmp"});
}

TEST_F(BitmapFiles, SaveReplacesAFileAndKeepsItsPermissions)
{
    WriteBytes(PathOf("mine.bmp"), {'o', 'l', 'd'});
    ASSERT_EQ(chmod(PathOf("mine.bmp").c_str(), 0640), 0);
    const TWin surface = test::RandomPicture(5, 3, 4);
    surface.SaveToFile(PathOf("mine.bmp"));
    struct stat info {};
    ASSERT_EQ(stat(PathOf("mine.bmp").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadBytes(PathOf("mine.bmp")), EncodeBitmap(surface));

    const mode_t mask = umask(027);
    surface.SaveToFile(PathOf("new.bmp"));
    umask(mask);
    ASSERT_EQ(stat(PathOf("new.bmp").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u); // 0666 less the umask
    EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"mine.bmp", "new.bmp"}));
}

TEST_F(BitmapFiles, SaveLeavesAFileTheUserMayNotWrite)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root may write any file";
    WriteBytes(PathOf("locked.bmp"), {'o', 'l', 'd'});
    ASSERT_EQ(chmod(PathOf("locked.bmp").c_str(), 0444), 0);
    const TWin surface = test::RandomPicture(3, 2, 6);
    EXPECT_EQ(ErrorOf([&] { surface.SaveToFile(PathOf("locked.bmp")); }),
              "Cannot create file " + PathOf("locked.bmp"));
    EXPECT_EQ(ReadBytes(PathOf("locked.bmp")), (Bytes{'o', 'l', 'd'}));
}

TEST_F(BitmapFiles, SaveThroughALinkReplacesItsTarget)
{
    WriteBytes(PathOf("real.bmp"), {'o', 'l', 'd'});
    fs::create_symlink("real.bmp", PathOf("link.bmp"));
    const TWin surface = test::RandomPicture(3, 2, 5);
    surface.SaveToFile(PathOf("link.bmp"));
    EXPECT_TRUE(fs::is_symlink(PathOf("link.bmp")));
    EXPECT_EQ(ReadBytes(PathOf("real.bmp")), EncodeBitmap(surface));
}

} // namespace
} // namespace tavrin
