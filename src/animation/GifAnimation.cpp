// Animated GIF through giflib: each frame is a full image with a palette of
// its own, written as soon as it arrives.
#include <bit>
#include <string>

#include <gif_lib.h>

#include "ColourReduction.h"
#include "FrameWriter.h"
#include "SurfaceError.h"
#include "Sweep.h"

namespace tavrin {
namespace {

class TGifWriter : public TFrameWriter {
public:
    TGifWriter(std::int32_t Width, std::int32_t Height, const TAnimationOptions& Options,
               TPut Put)
        : Fps(Options.Fps), Put(std::move(Put))
    {
        int error = 0;
        Gif = EGifOpen(this, &TGifWriter::Output, &error);
        if (!Gif)
            Fail(error);
        try {
            EGifSetGifVersion(Gif, true);
            if (EGifPutScreenDesc(Gif, Width, Height, 8, 0, nullptr) == GIF_ERROR)
                Fail(Gif->Error);
            LoopForever();
        } catch (...) {
            EGifCloseFile(Gif, nullptr);
            throw;
        }
    }

    ~TGifWriter() override
    {
        if (Gif)
            EGifCloseFile(Gif, nullptr);
    }

    void Add(const TWin& Frame) override
    {
        ReduceColours(Frame, Indexed);
        // GIF palettes come in powers of two, from two colours up.
        const int size = int(std::bit_ceil(std::max<std::size_t>(Indexed.Palette.size(), 2)));
        ColorMapObject* map = GifMakeMapObject(size, nullptr);
        if (!map)
            throw SurfaceError("Not enough memory to encode a GIF frame");
        for (std::size_t i = 0; i < Indexed.Palette.size(); ++i)
            map->Colors[i] = {GifByteType(Indexed.Palette[i] >> 16),
                              GifByteType(Indexed.Palette[i] >> 8), GifByteType(Indexed.Palette[i])};
        const bool written = PutFrame(Frame.Width(), Frame.Height(), map);
        GifFreeMapObject(map);
        if (!written)
            Fail(Gif->Error);
        ++Count;
    }

    void Finish() override
    {
        int error = 0;
        GifFileType* gif = Gif;
        Gif = nullptr;
        if (EGifCloseFile(gif, &error) == GIF_ERROR)
            Fail(error);
    }

private:
    static int Output(GifFileType* Gif, const GifByteType* Data, int Size)
    {
        static_cast<TGifWriter*>(Gif->UserData)->Put(Data, std::size_t(Size));
        return Size;
    }

    // The application extension that browsers read as "repeat forever".
    void LoopForever()
    {
        static const GifByteType Loop[3] = {1, 0, 0}; // sub-block 1, count 0
        if (EGifPutExtensionLeader(Gif, APPLICATION_EXT_FUNC_CODE) == GIF_ERROR ||
            EGifPutExtensionBlock(Gif, 11, "NETSCAPE2.0") == GIF_ERROR ||
            EGifPutExtensionBlock(Gif, 3, Loop) == GIF_ERROR ||
            EGifPutExtensionTrailer(Gif) == GIF_ERROR)
            Fail(Gif->Error);
    }

    bool PutFrame(std::int32_t Width, std::int32_t Height, const ColorMapObject* Map)
    {
        GraphicsControlBlock control{};
        control.DisposalMode = DISPOSE_DO_NOT;
        control.DelayTime = int(FrameStart(Count + 1, Fps, 100) - FrameStart(Count, Fps, 100));
        control.TransparentColor = NO_TRANSPARENT_COLOR;
        GifByteType extension[4];
        const std::size_t length = EGifGCBToExtension(&control, extension);
        if (EGifPutExtension(Gif, GRAPHICS_EXT_FUNC_CODE, int(length), extension) == GIF_ERROR ||
            EGifPutImageDesc(Gif, 0, 0, Width, Height, false, Map) == GIF_ERROR)
            return false;
        for (std::int32_t y = 0; y < Height; ++y)
            if (EGifPutLine(Gif, Indexed.Indices.data() + std::size_t(y) * Width, Width) ==
                GIF_ERROR)
                return false;
        return true;
    }

    [[noreturn]] static void Fail(int Error)
    {
        const char* text = GifErrorString(Error);
        throw SurfaceError(std::string("GIF encoding failed: ") + (text ? text : "unknown error"));
    }

    int Fps;
    TPut Put;
    GifFileType* Gif = nullptr;
    TIndexedFrame Indexed;
    std::int64_t Count = 0;
};

} // namespace

std::unique_ptr<TFrameWriter> MakeGifWriter(std::int32_t Width, std::int32_t Height,
                                            const TAnimationOptions& Options, TPut Put)
{
    return std::make_unique<TGifWriter>(Width, Height, Options, std::move(Put));
}

} // namespace tavrin
