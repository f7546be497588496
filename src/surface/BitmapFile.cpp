// Bitmap files read and written by hand, with no image library. Every size,
// offset and count in a file is untrusted: sizes are checked against the
// surface's limits before anything is allocated, and nothing is allocated by
// a count that the file's own length does not bound.
#include "BitmapFile.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "SaveFile.h"

namespace tavrin {
namespace {

const char* const NotValid = "Bitmap image is not valid";

constexpr std::uint32_t FileHeaderSize = 14;
constexpr std::uint32_t CoreHeaderSize = 12;
constexpr std::uint32_t InfoHeaderSize = 40;
// Headers this long or longer carry the three channel masks at offset 40;
// after a shorter one they follow the header.
constexpr std::uint32_t MasksInsideSize = 52;
constexpr std::uint32_t WrittenDataOffset = FileHeaderSize + InfoHeaderSize;

enum : std::uint32_t { Uncompressed = 0, RunLength8 = 1, RunLength4 = 2, BitFields = 3 };

std::uint16_t Get16(const std::uint8_t* P)
{
    return std::uint16_t(P[0] | P[1] << 8);
}

std::uint32_t Get32(const std::uint8_t* P)
{
    return std::uint32_t(P[0]) | std::uint32_t(P[1]) << 8 | std::uint32_t(P[2]) << 16 |
           std::uint32_t(P[3]) << 24;
}

void Put16(std::uint8_t* P, std::uint32_t Value)
{
    P[0] = std::uint8_t(Value);
    P[1] = std::uint8_t(Value >> 8);
}

void Put32(std::uint8_t* P, std::uint32_t Value)
{
    Put16(P, Value);
    Put16(P + 2, Value >> 16);
}

// The bytes of a file in order, from memory or from an open file, as far as
// they go. A file is read through one small buffer, so that a load holds
// the surface and little else.
class TByteSource {
public:
    TByteSource(const std::uint8_t* Data, std::size_t Size)
        : Next(Data), End(Data + Size), Base(Data), Length(Size)
    {
    }
    // Length is the file's size, taken when it was opened.
    TByteSource(std::FILE* File, std::uint64_t Length, const std::string& Name)
        : File(File), Buffer(64 * 1024), Length(Length), Name(Name)
    {
    }

    std::uint64_t Size() const { return Length; }
    std::uint64_t Position() const { return Offset + std::uint64_t(Next - Base); }

    // The next byte, or -1 at the end of the file.
    int Byte()
    {
        if (Next == End && !Refill())
            return -1;
        return *Next++;
    }

    // Copies up to Count bytes to Out; returns how many there were.
    std::size_t Read(std::uint8_t* Out, std::size_t Count)
    {
        std::size_t done = 0;
        while (done < Count && (Next != End || Refill())) {
            const std::size_t n = std::min(Count - done, std::size_t(End - Next));
            std::memcpy(Out + done, Next, n);
            Next += n;
            done += n;
        }
        return done;
    }

    // Moves forward to Target, or to the end of the file if that comes first.
    void SkipTo(std::uint64_t Target)
    {
        while (Position() < Target && (Next != End || Refill()))
            Next += std::min<std::uint64_t>(Target - Position(), std::uint64_t(End - Next));
    }

private:
    bool Refill()
    {
        if (!File)
            return false;
        Offset += std::uint64_t(End - Base);
        const std::size_t got = std::fread(Buffer.data(), 1, Buffer.size(), File);
        if (got == 0 && std::ferror(File))
            throw SurfaceError("Cannot read file " + Name);
        Base = Next = Buffer.data();
        End = Base + got;
        return got > 0;
    }

    const std::uint8_t* Next = nullptr;
    const std::uint8_t* End = nullptr;
    const std::uint8_t* Base = nullptr; // the byte at file position Offset
    std::uint64_t Offset = 0;
    std::FILE* File = nullptr;
    std::vector<std::uint8_t> Buffer;
    std::uint64_t Length = 0;
    std::string Name;
};

// What the file and information headers say, checked.
struct THeader {
    std::uint32_t HeaderSize = 0;
    std::int32_t Width = 0;
    std::int32_t Height = 0; // rows, always positive here
    bool TopDown = false;
    std::uint32_t BitCount = 0;
    std::uint32_t Compression = Uncompressed;
    std::uint32_t TableEntries = 0;
    std::uint32_t EntrySize = 4; // 3 after a core header
    std::uint32_t DataOffset = 0; // as the file header gives it
    std::array<std::uint32_t, 3> Masks{}; // red, green, blue
    std::uint64_t TableStart = 0;         // after the header and any masks that follow it

    std::uint64_t TableEnd() const { return TableStart + std::uint64_t(TableEntries) * EntrySize; }
};

bool KnownFormat(std::uint32_t BitCount, std::uint32_t Compression, bool TopDown)
{
    switch (Compression) {
    case Uncompressed:
        return BitCount == 1 || BitCount == 4 || BitCount == 8 || BitCount == 16 ||
               BitCount == 24 || BitCount == 32;
    case BitFields:
        return BitCount == 16 || BitCount == 32;
    case RunLength8:
        return BitCount == 8 && !TopDown;
    case RunLength4:
        return BitCount == 4 && !TopDown;
    default:
        return false;
    }
}

// Refuses, before anything is allocated, an image the surface cannot hold.
// Height is 64-bit so that the magnitude of INT32_MIN is representable.
void CheckSize(std::int64_t Width, std::int64_t Height)
{
    const std::string size = std::to_string(Width) + " x " + std::to_string(Height);
    if (Width > TWin::MaxSide || Height > TWin::MaxSide)
        throw SurfaceError("Bitmap image of " + size + " pixels is larger than " +
                           std::to_string(TWin::MaxSide) + " pixels a side");
    if (std::uint64_t(StrideFor(std::int32_t(Width))) * std::uint64_t(Height) > TWin::MaxBytes)
        throw SurfaceError("Bitmap image of " + size + " pixels needs more than 1 GiB of memory");
}

// The channel masks of 16- and 32-bit images: with bit fields, from the
// header's tail (InHeader) or from the 12 bytes after the header, which then
// move the colour table on; otherwise 5-5-5 or 8-8-8.
void ReadMasks(TByteSource& In, const std::uint8_t* InHeader, THeader& H)
{
    if (H.Compression != BitFields) {
        if (H.BitCount == 16)
            H.Masks = {0x7C00, 0x03E0, 0x001F};
        else if (H.BitCount == 32)
            H.Masks = {0xFF0000, 0x00FF00, 0x0000FF};
        return;
    }
    std::uint8_t after[12] = {}; // zeros for whatever the file does not hold
    const std::uint8_t* masks = InHeader;
    if (H.HeaderSize < MasksInsideSize) {
        In.SkipTo(H.TableStart);
        In.Read(after, sizeof after);
        masks = after;
        H.TableStart += sizeof after;
    }
    H.Masks = {Get32(masks), Get32(masks + 4), Get32(masks + 8)};
}

// Reads the file header, the information header and any channel masks,
// leaving the source at the colour table or before it.
THeader ReadHeader(TByteSource& In)
{
    std::uint8_t file[FileHeaderSize];
    if (In.Read(file, sizeof file) < sizeof file || file[0] != 'B' || file[1] != 'M')
        throw SurfaceError(NotValid);

    // Zeros stand for whatever of the masks in a long header the file does not hold.
    std::uint8_t info[MasksInsideSize] = {};
    if (In.Read(info, 4) < 4)
        throw SurfaceError(NotValid);
    THeader h;
    h.HeaderSize = Get32(info);
    const bool core = h.HeaderSize == CoreHeaderSize;
    if (!core && h.HeaderSize < InfoHeaderSize)
        throw SurfaceError(NotValid);
    const std::size_t wanted = std::min(h.HeaderSize, MasksInsideSize);
    if (4 + In.Read(info + 4, wanted - 4) < (core ? CoreHeaderSize : InfoHeaderSize))
        throw SurfaceError(NotValid);

    std::int64_t height = 0;
    std::uint32_t planes = 0;
    std::uint32_t coloursUsed = 0;
    if (core) {
        h.Width = Get16(info + 4);
        height = Get16(info + 6);
        planes = Get16(info + 8);
        h.BitCount = Get16(info + 10);
        h.EntrySize = 3;
    } else {
        h.Width = std::int32_t(Get32(info + 4));
        height = std::int32_t(Get32(info + 8));
        planes = Get16(info + 12);
        h.BitCount = Get16(info + 14);
        h.Compression = Get32(info + 16);
        coloursUsed = Get32(info + 32);
    }
    h.TopDown = height < 0;
    if (planes != 1 || h.Width < 0 || !KnownFormat(h.BitCount, h.Compression, h.TopDown))
        throw SurfaceError(NotValid);
    height = h.TopDown ? -height : height;
    CheckSize(h.Width, height);
    h.Height = std::int32_t(height);

    h.DataOffset = Get32(file + 10);
    h.TableEntries = coloursUsed != 0 ? coloursUsed : h.BitCount <= 8 ? 1u << h.BitCount : 0;
    h.TableStart = std::uint64_t(FileHeaderSize) + h.HeaderSize;
    ReadMasks(In, info + InfoHeaderSize, h);
    return h;
}

// One colour channel of a 16- or 32-bit pixel: the mask shifted down to at
// most 8 significant bits, and a table that spreads that range over 0..255,
// so that a full channel reads 255 whatever its width. A zero mask reads 0.
struct TChannel {
    std::uint32_t Mask = 0;
    unsigned Shift = 0;
    std::array<std::uint8_t, 256> Scale{};

    explicit TChannel(std::uint32_t ChannelMask) : Mask(ChannelMask)
    {
        if (Mask == 0)
            return;
        Shift = unsigned(std::countr_zero(Mask));
        const unsigned span = 32 - unsigned(std::countl_zero(Mask)) - Shift;
        if (span > 8)
            Shift += span - 8; // wider channels keep their top 8 bits
        const std::uint32_t full = Mask >> Shift;
        for (std::uint32_t v = 0; v <= full; ++v)
            Scale[v] = std::uint8_t((v * 255 + full / 2) / full);
    }

    std::uint8_t Of(std::uint32_t Pixel) const { return Scale[(Pixel & Mask) >> Shift]; }
};

// How file pixels become B, G, R. Palette entries that the table does not
// fill stay black, so that an index past the table reads as black.
struct TColours {
    std::array<std::array<std::uint8_t, 3>, 256> Palette{};
    TChannel Red, Green, Blue;

    explicit TColours(const THeader& H) : Red(H.Masks[0]), Green(H.Masks[1]), Blue(H.Masks[2]) {}
};

// Reads the colour table as far as the file holds it, keeping only the
// entries a pixel can index; a larger count is skipped, never allocated.
void ReadColourTable(TByteSource& In, const THeader& H, TColours& Colours)
{
    In.SkipTo(H.TableStart);
    const std::uint32_t kept = H.BitCount <= 8 ? std::min(H.TableEntries, 1u << H.BitCount) : 0;
    std::uint8_t entry[4];
    for (std::uint32_t i = 0; i < kept && In.Read(entry, H.EntrySize) == H.EntrySize; ++i)
        std::memcpy(Colours.Palette[i].data(), entry, 3);
}

// The pixel data is taken to follow the colour table, unless the file
// header points past the table to a place inside the file: some writers
// leave a gap there.
std::uint64_t DataStart(const TByteSource& In, const THeader& H)
{
    const bool pointsPastTable = H.DataOffset >= H.TableEnd() && H.DataOffset < In.Size();
    return pointsPastTable ? H.DataOffset : H.TableEnd();
}

// Converts the first Count pixels of one uncompressed file row.
void ConvertRow(const std::uint8_t* In, std::int32_t Count, std::uint32_t BitCount,
                const TColours& Colours, std::uint8_t* Out)
{
    switch (BitCount) {
    case 1:
    case 4:
    case 8: {
        const unsigned indexMask = (1u << BitCount) - 1;
        for (std::int32_t x = 0; x < Count; ++x) {
            // the leftmost pixel of a byte is in its high bits
            const std::uint32_t bit = std::uint32_t(x) * BitCount;
            const unsigned index = (In[bit / 8] >> (8 - BitCount - bit % 8)) & indexMask;
            std::memcpy(Out + 3 * x, Colours.Palette[index].data(), 3);
        }
        break;
    }
    case 24:
        std::memcpy(Out, In, 3 * std::size_t(Count));
        break;
    case 16:
    case 32:
        for (std::int32_t x = 0; x < Count; ++x) {
            const std::uint32_t pixel = BitCount == 16 ? Get16(In + 2 * x) : Get32(In + 4 * x);
            Out[3 * x] = Colours.Blue.Of(pixel);
            Out[3 * x + 1] = Colours.Green.Of(pixel);
            Out[3 * x + 2] = Colours.Red.Of(pixel);
        }
        break;
    }
}

// Uncompressed and bit-field rows, one file row at a time; a row cut short
// by the end of the file keeps its whole pixels and ends the image.
void ReadRows(TByteSource& In, const THeader& H, const TColours& Colours, TWin& Image)
{
    const std::size_t rowBytes = (std::size_t(H.BitCount) * std::size_t(H.Width) + 31) / 32 * 4;
    std::vector<std::uint8_t> row(rowBytes);
    for (std::int32_t r = 0; r < H.Height; ++r) {
        const std::size_t got = In.Read(row.data(), rowBytes);
        const auto whole = std::int32_t(std::min<std::size_t>(H.Width, got * 8 / H.BitCount));
        const std::int32_t y = H.TopDown ? r : H.Height - 1 - r;
        ConvertRow(row.data(), whole, H.BitCount, Colours, Image.Row(y));
        if (got < rowBytes)
            return;
    }
}

// Run-length encoded 4- and 8-bit images, always stored bottom-up. Pixels
// that runs or moves do not reach stay black; runs past the row end are cut
// there and moves past the top end the image.
void ReadRunLengths(TByteSource& In, const THeader& H, const TColours& Colours, TWin& Image)
{
    const bool nibbles = H.Compression == RunLength4;
    std::int64_t x = 0;
    std::int64_t r = 0; // file row, from the bottom
    auto put = [&](unsigned Index) {
        if (x < H.Width)
            std::memcpy(Image.Row(std::int32_t(H.Height - 1 - r)) + 3 * x,
                        Colours.Palette[Index].data(), 3);
        ++x;
    };
    while (r < H.Height) {
        const int count = In.Byte();
        const int code = In.Byte();
        if (code < 0)
            return;
        if (count > 0) {
            for (int i = 0; i < count; ++i)
                put(!nibbles ? unsigned(code) : i % 2 == 0 ? unsigned(code) >> 4 : code & 15u);
        } else if (code == 0) { // end of line
            x = 0;
            ++r;
        } else if (code == 1) { // end of bitmap
            return;
        } else if (code == 2) { // move right and up
            const int dx = In.Byte();
            const int dy = In.Byte();
            if (dy < 0)
                return;
            x += dx;
            r += dy;
        } else { // a literal run of `code` pixels, padded to a 16-bit word
            const int bytes = nibbles ? (code + 1) / 2 : code;
            for (int i = 0; i < bytes; ++i) {
                const int value = In.Byte();
                if (value < 0)
                    return;
                if (!nibbles) {
                    put(unsigned(value));
                    continue;
                }
                put(unsigned(value) >> 4);
                if (2 * i + 1 < code)
                    put(value & 15u);
            }
            if (bytes % 2 != 0)
                In.Byte();
        }
    }
}

TWin Decode(TByteSource& In)
{
    const THeader header = ReadHeader(In);
    TColours colours(header);
    ReadColourTable(In, header, colours);
    In.SkipTo(DataStart(In, header));

    TWin image(header.Width, header.Height);
    if (image.Empty())
        return image;
    if (header.Compression == RunLength8 || header.Compression == RunLength4)
        ReadRunLengths(In, header, colours, image);
    else
        ReadRows(In, header, colours, image);
    return image;
}

// Hands the bytes of the 24-bit bottom-up file for Surface to Put in order:
// the rows straight from the surface, their padding as zeros.
template <class TPut>
void WriteBitmap(const TWin& Surface, TPut&& Put)
{
    const std::uint32_t rowBytes = 3 * std::uint32_t(Surface.Width());
    const std::uint32_t imageSize = Surface.Stride * std::uint32_t(Surface.Height());
    std::uint8_t header[WrittenDataOffset] = {'B', 'M'};
    Put32(header + 2, WrittenDataOffset + imageSize);
    Put32(header + 10, WrittenDataOffset);
    Put32(header + 14, InfoHeaderSize);
    Put32(header + 18, std::uint32_t(Surface.Width()));
    Put32(header + 22, std::uint32_t(Surface.Height()));
    Put16(header + 26, 1);
    Put16(header + 28, 24);
    Put32(header + 34, imageSize);
    Put(header, sizeof header);
    if (rowBytes == 0)
        return;
    static constexpr std::uint8_t Padding[3] = {};
    for (std::int32_t y = Surface.Height() - 1; y >= 0; --y) {
        Put(Surface.Row(y), rowBytes);
        Put(Padding, Surface.Stride - rowBytes);
    }
}

struct TCloseFile {
    void operator()(std::FILE* File) const { std::fclose(File); }
};

} // namespace

TWin DecodeBitmap(const std::uint8_t* Data, std::size_t Size)
{
    TByteSource in(Data, Size);
    return Decode(in);
}

std::vector<std::uint8_t> EncodeBitmap(const TWin& Surface)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(WrittenDataOffset + std::size_t(Surface.Stride) * Surface.Height());
    WriteBitmap(Surface, [&](const std::uint8_t* Data, std::size_t Size) {
        bytes.insert(bytes.end(), Data, Data + Size);
    });
    return bytes;
}

void TWin::LoadFromFile(const std::string& FileName)
{
    // Non-blocking, so that a named pipe is refused instead of freezing the caller.
    const int descriptor = open(FileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info;
    if (descriptor < 0 || fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (descriptor >= 0)
            close(descriptor);
        throw SurfaceError("Cannot open file " + FileName);
    }
    const std::unique_ptr<std::FILE, TCloseFile> file(fdopen(descriptor, "rb"));
    if (!file) {
        close(descriptor);
        throw SurfaceError("Cannot open file " + FileName);
    }
    TByteSource in(file.get(), std::uint64_t(info.st_size), FileName);
    TWin image = Decode(in);
    swap(image);
}

void EncodeBitmap(const TWin& Surface, TSaveFile& File)
{
    WriteBitmap(Surface, [&](const std::uint8_t* Data, std::size_t Size) { File.Write(Data, Size); });
}

void TWin::SaveToFile(const std::string& FileName) const
{
    TSaveFile file(FileName);
    EncodeBitmap(*this, file);
    file.Commit();
}

} // namespace tavrin
