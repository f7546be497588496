// Animated WebP, written as the frames arrive. Each frame holds only the
// rectangle that changed since the previous one, coded alone by libwebp and
// drawn over the canvas without blending; a frame like the one before only
// makes that one last longer. The writer keeps the previous frame and two
// frames in coding, so memory does not grow with the number of frames; the
// file's size goes into its header at the end.
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include <webp/encode.h>

#include "FrameWriter.h"
#include "SurfaceError.h"
#include "Sweep.h"

namespace tavrin {
namespace {

// A frame lasts at most 2^24 - 1 ms: even a whole sweep of frames alike, at
// the slowest rate of one a second, stays within that.
static_assert(MaxSweepFrames * 1000 <= 0xFFFFFF);
// The RIFF size counts the bytes after its own field and may not pass this.
constexpr std::uint64_t MaxRiffSize = 0xFFFFFFFFu - 9;

struct TRect {
    std::int32_t X = 0, Y = 0, Width = 0, Height = 0;
};

// The smallest rectangle holding every pixel where A and B differ, grown up
// and left to even coordinates, as frame offsets must be; empty when alike.
TRect ChangedRect(const TWin& A, const TWin& B)
{
    const std::size_t rowBytes = 3 * std::size_t(A.Width());
    std::int32_t top = 0, bottom = A.Height();
    while (top < bottom && std::memcmp(A.Row(top), B.Row(top), rowBytes) == 0)
        ++top;
    if (top == bottom)
        return {};
    while (std::memcmp(A.Row(bottom - 1), B.Row(bottom - 1), rowBytes) == 0)
        --bottom;
    std::size_t left = rowBytes, right = 0; // in bytes
    for (std::int32_t y = top; y < bottom; ++y) {
        const std::uint8_t* a = A.Row(y);
        const std::uint8_t* b = B.Row(y);
        std::size_t l = 0;
        while (l < left && a[l] == b[l])
            ++l;
        left = l;
        std::size_t r = rowBytes;
        while (r > right && a[r - 1] == b[r - 1])
            --r;
        right = r;
    }
    const auto x = std::int32_t(left / 3) & ~1;
    const auto y = top & ~1;
    return {x, y, std::int32_t((right + 2) / 3) - x, bottom - y};
}

// Numbers in the container are little-endian, of 2, 3 or 4 bytes.
void PutNumber(std::vector<std::uint8_t>& Out, std::uint64_t Value, int Bytes)
{
    for (int i = 0; i < Bytes; ++i)
        Out.push_back(std::uint8_t(Value >> (8 * i)));
}

void PutTag(std::vector<std::uint8_t>& Out, const char (&Tag)[5])
{
    Out.insert(Out.end(), Tag, Tag + 4);
}

struct TFreePicture {
    void operator()(WebPPicture* Picture) const
    {
        WebPPictureFree(Picture);
        delete Picture;
    }
};
using TPicture = std::unique_ptr<WebPPicture, TFreePicture>;

// The chunk of the rectangle coded alone: an opaque picture is a 12-byte file
// header and one VP8L or VP8 chunk, padded to even length.
std::vector<std::uint8_t> Encode(const WebPConfig& Config, WebPPicture& Picture)
{
    WebPMemoryWriter coded;
    WebPMemoryWriterInit(&coded);
    Picture.writer = WebPMemoryWrite;
    Picture.custom_ptr = &coded;
    const bool done = WebPEncode(&Config, &Picture);
    std::vector<std::uint8_t> chunk;
    if (done)
        chunk.assign(coded.mem + 12, coded.mem + coded.size);
    WebPMemoryWriterClear(&coded);
    if (!done)
        throw SurfaceError(Picture.error_code == VP8_ENC_ERROR_OUT_OF_MEMORY
                               ? "Not enough memory to encode a WebP frame"
                               : "WebP encoding failed (libwebp error " +
                                     std::to_string(int(Picture.error_code)) + ")");
    return chunk;
}

class TWebPWriter : public TFrameWriter {
public:
    TWebPWriter(std::int32_t Width, std::int32_t Height, const TAnimationOptions& Options,
                TPut Put, TPatch Patch)
        : Fps(Options.Fps), Put(std::move(Put)), Patch(std::move(Patch))
    {
        if (!WebPConfigInit(&Config))
            throw SurfaceError("The WebP library does not match the one Tavrin was built with");
        if (Width > WEBP_MAX_DIMENSION || Height > WEBP_MAX_DIMENSION)
            throw SurfaceError("A WebP picture is at most " + std::to_string(WEBP_MAX_DIMENSION) +
                               " pixels a side, not " + std::to_string(Width) + " x " +
                               std::to_string(Height));
        Config.lossless = Options.Quality ? 0 : 1;
        if (Options.Quality) {
            Config.quality = float(*Options.Quality);
        } else {
            // Lossless effort: method 1 at quality 25 took a third of the time
            // of libwebp's default (method 4, quality 75) on full-HD sweeps,
            // for files 3 % smaller to 2 % larger; every pixel stays exact.
            Config.method = 1;
            Config.quality = 25;
        }
        Previous = TWin(Width, Height);

        std::vector<std::uint8_t> header;
        PutTag(header, "RIFF");
        PutNumber(header, 0, 4); // the size, known at the end
        PutTag(header, "WEBP");
        PutTag(header, "VP8X");
        PutNumber(header, 10, 4);
        PutNumber(header, 0x02, 4); // animated, opaque
        PutNumber(header, std::uint64_t(Width) - 1, 3);
        PutNumber(header, std::uint64_t(Height) - 1, 3);
        PutTag(header, "ANIM");
        PutNumber(header, 6, 4);
        PutNumber(header, 0xFFFFFFFF, 4); // background: white, never seen
        PutNumber(header, 0, 2);          // loop forever
        Write(header);
    }

    // A frame is coded while the next one is prepared and coded: two frames
    // are in flight on two cores. Each is coded alone, so the bytes are the
    // same however the work is spread.
    void Add(const TWin& Frame) override
    {
        const std::int64_t duration =
            FrameStart(Count + 1, Fps, 1000) - FrameStart(Count, Fps, 1000);
        const TRect rect =
            Count == 0 ? TRect{0, 0, Frame.Width(), Frame.Height()} : ChangedRect(Previous, Frame);
        ++Count;
        if (rect.Width == 0) {
            Pending.Duration += duration;
            return;
        }
        TPicture picture(new WebPPicture);
        if (!WebPPictureInit(picture.get()))
            throw SurfaceError("The WebP library does not match the one Tavrin was built with");
        picture->use_argb = Config.lossless;
        picture->width = rect.Width;
        picture->height = rect.Height;
        if (!WebPPictureImportBGR(picture.get(), Frame.Row(rect.Y) + 3 * std::size_t(rect.X),
                                  int(Frame.Stride)))
            throw SurfaceError("Not enough memory to encode a WebP frame");
        std::future<std::vector<std::uint8_t>> coding =
            std::async(std::launch::async, [config = Config, picture = std::move(picture)] {
                return Encode(config, *picture);
            });
        WritePending();
        Pending = {std::move(coding), rect, duration};
        std::memcpy(Previous.Bits, Frame.Bits, Previous.ByteCount());
    }

    void Finish() override
    {
        WritePending();
        std::vector<std::uint8_t> size;
        PutNumber(size, Written - 8, 4);
        Patch(4, size.data(), size.size());
    }

private:
    // The frame last added, being coded, and how long it lasts with its repeats.
    struct TPending {
        std::future<std::vector<std::uint8_t>> Chunk;
        TRect Rect;
        std::int64_t Duration = 0;
    };

    // Waits for the pending frame's rectangle and appends it as a frame.
    void WritePending()
    {
        if (!Pending.Chunk.valid())
            return;
        const std::vector<std::uint8_t> chunk = Pending.Chunk.get();
        if (Written + 24 + chunk.size() - 8 > MaxRiffSize)
            throw SurfaceError("The animation is too large for a WebP file, which holds 4 GiB "
                               "at most");
        const TRect& rect = Pending.Rect;
        std::vector<std::uint8_t> header;
        PutTag(header, "ANMF");
        PutNumber(header, 16 + chunk.size(), 4);
        PutNumber(header, std::uint64_t(rect.X / 2), 3);
        PutNumber(header, std::uint64_t(rect.Y / 2), 3);
        PutNumber(header, std::uint64_t(rect.Width) - 1, 3);
        PutNumber(header, std::uint64_t(rect.Height) - 1, 3);
        PutNumber(header, std::uint64_t(Pending.Duration), 3);
        PutNumber(header, 0x02, 1); // no blending, nothing disposed
        Write(header);
        Write(chunk);
    }

    void Write(const std::vector<std::uint8_t>& Bytes)
    {
        Put(Bytes.data(), Bytes.size());
        Written += Bytes.size();
    }

    int Fps;
    TPut Put;
    TPatch Patch;
    WebPConfig Config;
    TWin Previous;             // the last frame added
    TPending Pending;
    std::int64_t Count = 0;
    std::uint64_t Written = 0; // bytes of the file so far
};

} // namespace

std::unique_ptr<TFrameWriter> MakeWebPWriter(std::int32_t Width, std::int32_t Height,
                                             const TAnimationOptions& Options, TPut Put,
                                             TPatch Patch)
{
    return std::make_unique<TWebPWriter>(Width, Height, Options, std::move(Put), std::move(Patch));
}

} // namespace tavrin
