// Sweeps written as animated WebP, animated GIF and numbered stills, read
// back with the formats' own decoders (libwebp's animation decoder, giflib)
// and compared with the defining render of every frame.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <set>
#include <vector>

#include <fcntl.h>
#include <gif_lib.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <gtest/gtest.h>
#include <webp/demux.h>

#include "../surface/TestImages.h"
#include "Reference.h"
#include "ExportFixture.h"
#include "SweepExport.h"

namespace tavrin {
namespace {

namespace fs = std::filesystem;

// A picture of Colours random colours, scattered at random: asymmetric,
// and every frame of it has at most Colours + 1 colours (black added).
TWin FewColourPicture(int Width, int Height, int Colours, std::uint32_t Seed)
{
    std::mt19937 random(Seed);
    std::vector<std::uint32_t> palette(static_cast<std::size_t>(Colours));
    for (std::uint32_t& colour : palette)
        colour = random() & 0xFFFFFF;
    TWin picture(Width, Height);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            const std::uint32_t colour = palette[random() % palette.size()];
            picture.Row(y)[3 * x] = std::uint8_t(colour);
            picture.Row(y)[3 * x + 1] = std::uint8_t(colour >> 8);
            picture.Row(y)[3 * x + 2] = std::uint8_t(colour >> 16);
        }
    return picture;
}

// Smooth colours, which lossy coding keeps close.
TWin SmoothPicture(int Width, int Height)
{
    TWin picture(Width, Height);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            picture.Row(y)[3 * x] = std::uint8_t(4 * x);
            picture.Row(y)[3 * x + 1] = std::uint8_t(6 * y);
            picture.Row(y)[3 * x + 2] = std::uint8_t(100 + 2 * x - y);
        }
    return picture;
}

// The frame the literal render loops make for these positions.
TWin ExpectedFrame(const TWin& Source, const SliderPositions& Positions)
{
    TWin frame(Source.Width(), Source.Height());
    reference::Render(Source, frame, Positions);
    return frame;
}

std::vector<std::uint8_t> ReadAll(const fs::path& File)
{
    std::ifstream in(File, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct TDecodedFrame {
    TWin Picture;
    int Time; // WebP: end time in ms; GIF: delay in hundredths
};

std::vector<TDecodedFrame> DecodeWebP(const std::vector<std::uint8_t>& Bytes, int& LoopCount)
{
    const WebPData data{Bytes.data(), Bytes.size()};
    WebPAnimDecoderOptions options;
    WebPAnimDecoderOptionsInit(&options);
    options.color_mode = MODE_RGBA;
    WebPAnimDecoder* decoder = WebPAnimDecoderNew(&data, &options);
    EXPECT_NE(decoder, nullptr);
    std::vector<TDecodedFrame> frames;
    if (!decoder)
        return frames;
    WebPAnimInfo info;
    WebPAnimDecoderGetInfo(decoder, &info);
    LoopCount = int(info.loop_count);
    while (WebPAnimDecoderHasMoreFrames(decoder)) {
        std::uint8_t* rgba = nullptr;
        int timestamp = 0;
        if (!WebPAnimDecoderGetNext(decoder, &rgba, &timestamp))
            break;
        TWin picture(int(info.canvas_width), int(info.canvas_height));
        for (int y = 0; y < picture.Height(); ++y)
            for (int x = 0; x < picture.Width(); ++x) {
                const std::uint8_t* p = rgba + 4 * (std::size_t(y) * info.canvas_width + x);
                EXPECT_EQ(p[3], 255) << "pixel " << x << ", " << y;
                picture.Row(y)[3 * x] = p[2];
                picture.Row(y)[3 * x + 1] = p[1];
                picture.Row(y)[3 * x + 2] = p[0];
            }
        frames.push_back({std::move(picture), timestamp});
    }
    WebPAnimDecoderDelete(decoder);
    return frames;
}

// What the WebP writer makes of Frames.
std::vector<std::uint8_t> WriteWebP(const std::vector<const TWin*>& Frames,
                                    const TAnimationOptions& Options)
{
    std::vector<std::uint8_t> bytes;
    const auto writer = MakeWebPWriter(
        Frames[0]->Width(), Frames[0]->Height(), Options,
        [&](const std::uint8_t* Data, std::size_t Size) {
            bytes.insert(bytes.end(), Data, Data + Size);
        },
        [&](std::uint64_t Offset, const std::uint8_t* Data, std::size_t Size) {
            ASSERT_LE(Offset + Size, bytes.size());
            std::copy(Data, Data + Size, bytes.begin() + std::ptrdiff_t(Offset));
        });
    for (const TWin* frame : Frames)
        writer->Add(*frame);
    writer->Finish();
    return bytes;
}

// Every image of the GIF as a full frame (each one covers the screen), with
// its delay; Loops tells whether the NETSCAPE2.0 loop-forever block is there.
std::vector<TDecodedFrame> DecodeGif(const fs::path& File, bool& LoopsForever,
                                     std::size_t& LargestPalette)
{
    int error = 0;
    GifFileType* gif = DGifOpenFileName(File.c_str(), &error);
    EXPECT_NE(gif, nullptr) << GifErrorString(error);
    std::vector<TDecodedFrame> frames;
    if (!gif)
        return frames;
    EXPECT_EQ(DGifSlurp(gif), GIF_OK) << GifErrorString(gif->Error);
    LoopsForever = false;
    LargestPalette = 0;
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage& image = gif->SavedImages[i];
        for (int e = 0; e + 1 < image.ExtensionBlockCount; ++e) {
            const ExtensionBlock& block = image.ExtensionBlocks[e];
            const ExtensionBlock& next = image.ExtensionBlocks[e + 1];
            if (block.Function == APPLICATION_EXT_FUNC_CODE && block.ByteCount == 11 &&
                std::equal(block.Bytes, block.Bytes + 11, "NETSCAPE2.0") && next.ByteCount == 3 &&
                next.Bytes[0] == 1 && next.Bytes[1] == 0 && next.Bytes[2] == 0)
                LoopsForever = true;
        }
        GraphicsControlBlock control{};
        DGifSavedExtensionToGCB(gif, i, &control);
        EXPECT_EQ(image.ImageDesc.Width, gif->SWidth);
        EXPECT_EQ(image.ImageDesc.Height, gif->SHeight);
        const ColorMapObject* map = image.ImageDesc.ColorMap;
        EXPECT_NE(map, nullptr);
        if (!map)
            break;
        LargestPalette = std::max(LargestPalette, std::size_t(map->ColorCount));
        TWin picture(gif->SWidth, gif->SHeight);
        for (int y = 0; y < picture.Height(); ++y)
            for (int x = 0; x < picture.Width(); ++x) {
                const GifColorType c = map->Colors[image.RasterBits[y * gif->SWidth + x]];
                picture.Row(y)[3 * x] = c.Blue;
                picture.Row(y)[3 * x + 1] = c.Green;
                picture.Row(y)[3 * x + 2] = c.Red;
            }
        frames.push_back({std::move(picture), control.DelayTime});
    }
    DGifCloseFile(gif, &error);
    return frames;
}

using SweepExportTest = test::TExportFolder;

TEST(Sweep, FramesCountedBeforeClampingBothWays)
{
    EXPECT_EQ(SweepFrameCount({Slider::Angle, 0, 360, 1}), 361);
    EXPECT_EQ(SweepFrameCount({Slider::Angle, 360, 0, 5}), 73);
    EXPECT_EQ(SweepFrameCount({Slider::Angle, 0, 10, 3}), 4); // 0 3 6 9: 10 is not reached
    EXPECT_EQ(SweepFrameCount({Slider::XSlice, 7, 7, 4}), 1);
    // Beyond the slider's range every frame still counts.
    EXPECT_EQ(SweepFrameCount({Slider::LockXY, -4999, 5000, 1}), 10000);
    EXPECT_THROW(SweepFrameCount({Slider::LockXY, -5000, 5000, 1}), SurfaceError);
    EXPECT_THROW(SweepFrameCount({Slider::Angle, INT64_MIN, INT64_MAX, 1}), SurfaceError);
    EXPECT_EQ(SweepFrameCount({Slider::Angle, INT64_MIN, INT64_MAX, INT64_MAX}), 3);
    EXPECT_THROW(SweepFrameCount({Slider::Angle, 0, 10, 0}), SurfaceError);
    EXPECT_THROW(SweepFrameCount({Slider::Angle, 10, 0, -1}), SurfaceError);
}

TEST(Sweep, FramePositionsClampLikeTheSliders)
{
    SliderPositions base;
    base[Slider::Angle] = 90;
    base[Slider::YSlice] = 4;
    const TSweep down{Slider::XSlice, 33, 0, 7}; // 33 26 19 12 5 (-2 would pass 0)
    const std::int32_t expected[] = {30, 26, 19, 12, 5};
    ASSERT_EQ(SweepFrameCount(down), 5);
    for (int i = 0; i < 5; ++i) {
        const SliderPositions p = SweepFrame(down, base, i);
        EXPECT_EQ(p[Slider::XSlice], expected[i]) << i;
        EXPECT_EQ(p[Slider::Angle], 90);
        EXPECT_EQ(p[Slider::YSlice], 4);
    }
    const TSweep wide{Slider::XPosition, INT64_MIN, INT64_MAX, INT64_MAX};
    EXPECT_EQ(SweepFrame(wide, base, 0)[Slider::XPosition], -1500);
    EXPECT_EQ(SweepFrame(wide, base, 1)[Slider::XPosition], -1); // INT64_MIN + INT64_MAX
    EXPECT_EQ(SweepFrame(wide, base, 2)[Slider::XPosition], 1500);
}

TEST(Sweep, FrameTimesRoundFromTheStart)
{
    // 30 fps in milliseconds: 0, 33.3, 66.7, 100, 133.3 rounded.
    const std::int64_t ms[] = {0, 33, 67, 100, 133};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(FrameStart(i, 30, 1000), ms[i]);
    // 7 fps in hundredths: 0, 14.29, 28.57, 42.86 -> delays 14, 15, 14.
    EXPECT_EQ(FrameStart(1, 7, 100), 14);
    EXPECT_EQ(FrameStart(2, 7, 100), 29);
    EXPECT_EQ(FrameStart(3, 7, 100), 43);
    EXPECT_EQ(FrameStart(9999, 100, 1000), 99990);
}

TEST(FramePattern, NamesEveryFrame)
{
    const auto pattern = FindFramePattern("out/100%%-frame-%04d.bmp");
    ASSERT_TRUE(pattern);
    EXPECT_EQ(FrameFileName(*pattern, 1), "out/100%-frame-0001.bmp");
    EXPECT_EQ(FrameFileName(*pattern, 10000), "out/100%-frame-10000.bmp");
    const auto spaces = FindFramePattern("f%3d.bmp");
    ASSERT_TRUE(spaces);
    EXPECT_EQ(FrameFileName(*spaces, 7), "f  7.bmp");
    EXPECT_EQ(FrameFileName(*FindFramePattern("%d"), 12), "12");
    EXPECT_FALSE(FindFramePattern("plain.gif"));
    EXPECT_FALSE(FindFramePattern("a%%b.gif"));
    EXPECT_FALSE(FindFramePattern("50%d/plain.gif")); // only the last part of the name counts
    for (const char* bad : {"f%s.bmp", "f%d%d.bmp", "f%.bmp", "f%-4d.bmp", "f%x.bmp",
                            "f%12d.bmp", "f%d"
                                                    "%"})
        EXPECT_THROW(FindFramePattern(bad), SurfaceError) << bad;
}

TEST_F(SweepExportTest, LosslessWebPHoldsEveryFrameExactly)
{
    const TWin source = test::RandomPicture(37, 23, 11);
    TSweepExport settings;
    settings.Sweep = {Slider::Angle, 350, 380, 9}; // 350 359 368 377, the last two clamped to 360
    settings.Base[Slider::XSlice] = 3;
    settings.Base[Slider::TavrinX] = 1;
    settings.Base[Slider::YPosition] = -5;
    settings.Options.Fps = 30;
    int progressCalls = 0;
    ASSERT_TRUE(Export(source, settings, "sweep.webp", [&](std::int64_t Done, std::int64_t Total) {
        EXPECT_EQ(Done, ++progressCalls);
        EXPECT_EQ(Total, 4);
        return true;
    }));
    EXPECT_EQ(progressCalls, 4);
    int loops = -1;
    const std::vector<TDecodedFrame> frames = DecodeWebP(ReadAll(Dir / "sweep.webp"), loops);
    EXPECT_EQ(loops, 0); // forever
    // The two clamped frames are alike: WebP stores them as one frame that
    // lasts as long as both, ending at 4/30 s.
    ASSERT_EQ(frames.size(), 3u);
    const int angles[] = {350, 359, 360};
    const int endTimes[] = {33, 67, 133};
    for (int i = 0; i < 3; ++i) {
        SliderPositions p{{3, 0, 1, 0, 0, 0, -5, angles[i]}};
        EXPECT_TRUE(test::SamePixels(frames[std::size_t(i)].Picture, ExpectedFrame(source, p)))
            << "frame " << i;
        EXPECT_EQ(frames[std::size_t(i)].Time, endTimes[i]) << "frame " << i;
    }
    EXPECT_EQ(Files(), std::vector<std::string>{"sweep.webp"}); // no temporary file left

    // Five different frames at the default 25 a second: five frames, 40 ms each.
    settings.Sweep = {Slider::XPosition, 2, -10, 3};
    settings.Options.Fps = 25;
    ASSERT_TRUE(Export(source, settings, "five.webp"));
    const std::vector<TDecodedFrame> five = DecodeWebP(ReadAll(Dir / "five.webp"), loops);
    ASSERT_EQ(five.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        SliderPositions p{{3, 0, 1, 0, 0, 2 - 3 * i, -5, 0}};
        EXPECT_TRUE(test::SamePixels(five[std::size_t(i)].Picture, ExpectedFrame(source, p)))
            << "frame " << i;
        EXPECT_EQ(five[std::size_t(i)].Time, 40 * (i + 1)) << "frame " << i;
    }
}

TEST_F(SweepExportTest, LossyWebPStaysCloseToTheRender)
{
    const TWin source = SmoothPicture(41, 29);
    TSweepExport settings;
    settings.Sweep = {Slider::XPosition, 0, -6, 3};
    settings.Options.Quality = 95;
    ASSERT_TRUE(Export(source, settings, "lossy.WEBP"));
    int loops = -1;
    const std::vector<TDecodedFrame> frames = DecodeWebP(ReadAll(Dir / "lossy.WEBP"), loops);
    ASSERT_EQ(frames.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        SliderPositions p;
        p[Slider::XPosition] = -3 * i;
        const TWin expected = ExpectedFrame(source, p);
        double error = 0;
        for (std::size_t b = 0; b < expected.ByteCount(); ++b)
            error += std::abs(int(expected.Bits[b]) - int(frames[std::size_t(i)].Picture.Bits[b]));
        EXPECT_LT(error / double(expected.ByteCount()), 6.0) << "frame " << i;
    }
}

// The writer alone, on frames that change in a part only, at odd places:
// each frame must hold just the changed rectangle (grown to the even
// corner the container needs) and decode to the whole frame, and a repeat
// must lengthen the frame before it, the last one too.
TEST(WebPWriter, FramesHoldOnlyWhatChanged)
{
    const TWin first = SmoothPicture(45, 31);
    TWin block = first; // columns 7 to 19 and rows 5 to 12 lighter
    for (int y = 5; y <= 12; ++y)
        for (int b = 3 * 7; b < 3 * 20; ++b)
            block.Row(y)[b] = std::uint8_t(block.Row(y)[b] / 2 + 100);
    TWin corner = block; // and the bottom-right pixel
    corner.Row(30)[3 * 44 + 1] ^= 0x80;
    const TWin* frames[] = {&first, &block, &block, &corner, &first, &first};

    struct TCase {
        std::optional<int> Quality;
        double MeanError; // per byte, at most
    };
    for (const TCase& c : {TCase{std::nullopt, 0.0}, TCase{90, 3.0}}) {
        SCOPED_TRACE(c.Quality ? "lossy" : "lossless");
        TAnimationOptions options;
        options.Fps = 30;
        options.Quality = c.Quality;
        const std::vector<std::uint8_t> bytes =
            WriteWebP({std::begin(frames), std::end(frames)}, options);
        int loops = -1;
        const std::vector<TDecodedFrame> decoded = DecodeWebP(bytes, loops);
        ASSERT_EQ(decoded.size(), 4u);
        const TWin* expected[] = {&first, &block, &corner, &first};
        const int endTimes[] = {33, 100, 133, 200}; // frames start at 0, 33, 67, 100, 133, 167
        for (std::size_t i = 0; i < 4; ++i) {
            double error = 0;
            for (std::size_t b = 0; b < first.ByteCount(); ++b)
                error += std::abs(int(expected[i]->Bits[b]) - int(decoded[i].Picture.Bits[b]));
            EXPECT_LE(error / double(first.ByteCount()), c.MeanError) << "frame " << i;
            EXPECT_EQ(decoded[i].Time, endTimes[i]) << "frame " << i;
        }

        // Where each frame sits, and that none blends or disposes.
        const WebPData data{bytes.data(), bytes.size()};
        WebPDemuxer* demux = WebPDemux(&data);
        ASSERT_NE(demux, nullptr);
        const int rects[4][4] = {{0, 0, 45, 31}, {6, 4, 14, 9}, {44, 30, 1, 1}, {6, 4, 39, 27}};
        WebPIterator frame;
        for (int i = 0; i < 4; ++i) {
            ASSERT_TRUE(WebPDemuxGetFrame(demux, i + 1, &frame));
            EXPECT_EQ(frame.x_offset, rects[i][0]) << "frame " << i;
            EXPECT_EQ(frame.y_offset, rects[i][1]) << "frame " << i;
            EXPECT_EQ(frame.width, rects[i][2]) << "frame " << i;
            EXPECT_EQ(frame.height, rects[i][3]) << "frame " << i;
            EXPECT_EQ(frame.blend_method, WEBP_MUX_NO_BLEND);
            EXPECT_EQ(frame.dispose_method, WEBP_MUX_DISPOSE_NONE);
            WebPDemuxReleaseIterator(&frame);
        }
        WebPDemuxDelete(demux);
    }
}

TEST_F(SweepExportTest, GifOfFewColoursComesBackExactly)
{
    const TWin source = FewColourPicture(43, 19, 255, 5);
    TSweepExport settings;
    settings.Sweep = {Slider::Angle, 0, 40, 20};
    settings.Base[Slider::YSlice] = 2;
    settings.Base[Slider::LockXY] = 1;
    settings.Options.Fps = 7;
    ASSERT_TRUE(Export(source, settings, "few.gif"));
    bool loops = false;
    std::size_t palette = 0;
    const std::vector<TDecodedFrame> frames = DecodeGif(Dir / "few.gif", loops, palette);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_TRUE(loops);
    const int delays[] = {14, 15, 14};
    for (int i = 0; i < 3; ++i) {
        SliderPositions p{{1, 2, 0, 0, 1, 0, 0, 20 * i}};
        EXPECT_TRUE(test::SamePixels(frames[std::size_t(i)].Picture, ExpectedFrame(source, p)))
            << "frame " << i;
        EXPECT_EQ(frames[std::size_t(i)].Time, delays[i]) << "frame " << i;
    }
}

TEST_F(SweepExportTest, GifOfManyColoursIsReducedToTwoHundredFiftySix)
{
    const TWin source = test::RandomPicture(45, 31, 8);
    TSweepExport settings;
    settings.Sweep = {Slider::Angle, 10, 12, 2};
    ASSERT_TRUE(Export(source, settings, "many.gif"));
    bool loops = false;
    std::size_t palette = 0;
    const std::vector<TDecodedFrame> frames = DecodeGif(Dir / "many.gif", loops, palette);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_LE(palette, 256u);
    for (int i = 0; i < 2; ++i) {
        SliderPositions p;
        p[Slider::Angle] = 10 + 2 * i;
        const TWin expected = ExpectedFrame(source, p);
        std::set<std::uint32_t> colours;
        double error = 0;
        for (int y = 0; y < expected.Height(); ++y)
            for (int x = 0; x < expected.Width(); ++x) {
                colours.insert(test::PixelAt(frames[std::size_t(i)].Picture, x, y));
                for (int c = 0; c < 3; ++c)
                    error += std::abs(int(expected.Row(y)[3 * x + c]) -
                                      int(frames[std::size_t(i)].Picture.Row(y)[3 * x + c]));
            }
        EXPECT_LE(colours.size(), 256u);
        EXPECT_GT(colours.size(), 64u); // a real palette, not a handful of greys
        // Random pixels in 256 colours: each channel within a median-cut box.
        EXPECT_LT(error / double(3 * expected.Width() * expected.Height()), 24.0);
    }
}

TEST_F(SweepExportTest, StillsAreNumberedInExportOrder)
{
    const TWin source = test::PositionPicture(17, 13);
    TSweepExport settings;
    settings.Sweep = {Slider::XPosition, 4, -5, 3}; // 4 1 -2 -5
    settings.Base[Slider::XSlice] = 2;
    ASSERT_TRUE(Export(source, settings, "f%02d.bmp"));
    EXPECT_EQ(Files(), (std::vector<std::string>{"f01.bmp", "f02.bmp", "f03.bmp", "f04.bmp"}));
    const int offsets[] = {4, 1, -2, -5};
    for (int i = 0; i < 4; ++i) {
        TWin still;
        still.LoadFromFile((Dir / ("f0" + std::to_string(i + 1) + ".bmp")).string());
        SliderPositions p;
        p[Slider::XSlice] = 2;
        p[Slider::XPosition] = offsets[i];
        EXPECT_TRUE(test::SamePixels(still, ExpectedFrame(source, p))) << "frame " << i + 1;
    }

    // Up the other way, beyond the slider: 28 31 34 -> 28 30 30.
    fs::create_directory(Dir / "up");
    settings.Sweep = {Slider::XSlice, 28, 36, 3};
    ASSERT_TRUE(Export(source, settings, "up/s-%d.BMP"));
    for (int i = 0; i < 3; ++i) {
        TWin still;
        still.LoadFromFile((Dir / "up" / ("s-" + std::to_string(i + 1) + ".BMP")).string());
        SliderPositions p;
        p[Slider::XSlice] = std::min(28 + 3 * i, 30);
        EXPECT_TRUE(test::SamePixels(still, ExpectedFrame(source, p))) << "frame " << i + 1;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(Dir / "up"), fs::directory_iterator()), 3);
}

TEST_F(SweepExportTest, CancelLeavesNoFileAndKeepsTheOldOne)
{
    const TWin source = test::RandomPicture(21, 15, 2);
    TSweepExport settings;
    settings.Sweep = {Slider::Angle, 0, 9, 1};
    const auto cancelAtThree = [](std::int64_t Done, std::int64_t) { return Done < 3; };
    for (const std::string name : {"a.webp", "a.gif", "a-%d.bmp"})
        EXPECT_FALSE(Export(source, settings, name, cancelAtThree)) << name;
    EXPECT_TRUE(Files().empty());

    std::ofstream(Dir / "old.gif") << "old";
    std::ofstream(Dir / "old-2.bmp") << "old";
    EXPECT_FALSE(Export(source, settings, "old.gif", cancelAtThree));
    EXPECT_FALSE(Export(source, settings, "old-%d.bmp", cancelAtThree));
    EXPECT_EQ(Files(), (std::vector<std::string>{"old-2.bmp", "old.gif"}));
    EXPECT_EQ(ReadAll(Dir / "old.gif").size(), 3u);
    EXPECT_EQ(ReadAll(Dir / "old-2.bmp").size(), 3u);
}

TEST_F(SweepExportTest, FailuresLeaveNothingBehind)
{
    const TWin source = test::RandomPicture(9, 7, 4);
    TSweepExport settings;
    settings.Sweep = {Slider::Angle, 0, 3, 1};
    EXPECT_THROW(Export(source, settings, "missing/a.gif"), SurfaceError);
    EXPECT_THROW(Export(source, settings, "missing/a-%d.bmp"), SurfaceError);
    // A still format that cannot be written fails at the first frame.
    EXPECT_THROW(Export(source, settings, "a-%d.xyz"), SurfaceError);
    // A frame name that is a folder fails before any frame is moved.
    fs::create_directory(Dir / "b-3.bmp");
    EXPECT_THROW(Export(source, settings, "b-%d.bmp"), SurfaceError);
    EXPECT_EQ(Files(), std::vector<std::string>{"b-3.bmp"});

    // A picture that changes size under the export stops it.
    {
        TWin output(source.Width(), source.Height());
        EXPECT_THROW(ExportSweep(source, output, settings, (Dir / "c.gif").string(),
                                 [&](std::int64_t, std::int64_t) {
                                     output = TWin(5, 5);
                                     return true;
                                 }),
                     SurfaceError);
    }

    // Past WebP's size limit, refused before anything is written.
    const TWin wide(16384, 1);
    EXPECT_THROW(EstimateExportBytes(wide, settings, (Dir / "w.webp").string()), SurfaceError);
    EXPECT_THROW(Export(wide, settings, "w.webp"), SurfaceError);
    // A place that cannot be written is refused before a frame is encoded:
    // the message is about the folder or the name, not WebP's size limit.
    for (const std::string& name :
         {std::string("missing/w.webp"), std::string("w.webp/"), std::string(300, 'w') + ".webp"})
        try {
            EstimateExportBytes(wide, settings, (Dir / name).string());
            ADD_FAILURE() << name << " was estimated";
        } catch (const SurfaceError& error) {
            EXPECT_EQ(std::string(error.what()).find("WebP"), std::string::npos) << error.what();
        }

    for (const char* name : {"a.png", "a", "a.webp.bmp"})
        EXPECT_THROW(Export(source, settings, name), SurfaceError) << name;
    settings.Options.Fps = 101;
    EXPECT_THROW(Export(source, settings, "a.gif"), SurfaceError);
    settings.Options = {25, 0};
    EXPECT_THROW(Export(source, settings, "a.webp"), SurfaceError);
    EXPECT_EQ(Files(), std::vector<std::string>{"b-3.bmp"});
}

// Sets or clears the append-only attribute, which lets a file be neither
// renamed nor replaced, even by root; false where the file system has none.
bool SetAppendOnly(const fs::path& File, bool On)
{
    const int fd = open(File.c_str(), O_RDONLY);
    int flags = 0;
    bool done = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = On ? flags | FS_APPEND_FL : flags & ~FS_APPEND_FL;
    done = done && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    close(fd);
    return done;
}

TEST_F(SweepExportTest, StillsReplaceAnOldSequenceWhollyOrNotAtAll)
{
    for (int n = 1; n <= 13; ++n)
        std::ofstream(Dir / ("f-" + std::to_string(n) + ".bmp")) << "old " << n;
    if (!SetAppendOnly(Dir / "f-6.bmp", true))
        GTEST_SKIP() << "no append-only files here (root on ext4, xfs or btrfs has them)";
    TSweepExport settings;
    settings.Sweep = {Slider::Angle, 0, 10, 1}; // 11 frames over 13 old ones
    EXPECT_THROW(Export(test::RandomPicture(11, 9, 8), settings, "f-%d.bmp"), SurfaceError);
    SetAppendOnly(Dir / "f-6.bmp", false);
    for (int n = 1; n <= 13; ++n) {
        const std::vector<std::uint8_t> bytes = ReadAll(Dir / ("f-" + std::to_string(n) + ".bmp"));
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "old " + std::to_string(n));
    }
    EXPECT_EQ(Files().size(), 13u); // and no hidden folder left
}

TEST_F(SweepExportTest, EstimateIsTheFirstFrameTimesTheFrames)
{
    const TWin source = test::RandomPicture(23, 11, 6);
    TSweepExport one;
    one.Sweep = {Slider::Angle, 30, 30, 1};
    TSweepExport many = one;
    many.Sweep = {Slider::Angle, 30, 100, 7}; // 11 frames
    for (const std::string name : {"e.webp", "e.gif"}) {
        ASSERT_TRUE(Export(source, one, name));
        const std::uint64_t single = fs::file_size(Dir / name);
        EXPECT_EQ(EstimateExportBytes(source, one, (Dir / name).string()), single) << name;
        EXPECT_EQ(EstimateExportBytes(source, many, (Dir / name).string()), 11 * single) << name;
    }
    // Bitmaps: 54 header bytes and 23 x 3 = 69 bytes a row padded to 72.
    EXPECT_EQ(EstimateExportBytes(source, many, "e-%d.bmp"), 11u * (54 + 72 * 11));
    // A cancelled estimate ends with an error and leaves no temporary folder.
    const char* const temporary = std::getenv("TMPDIR");
    const std::string saved = temporary ? temporary : "";
    setenv("TMPDIR", Dir.c_str(), 1);
    const std::atomic<bool> cancelled = true;
    EXPECT_THROW(EstimateExport(source, many, (Dir / "e.webp").string(), &cancelled), SurfaceError);
    temporary ? setenv("TMPDIR", saved.c_str(), 1) : unsetenv("TMPDIR");
    EXPECT_EQ(Files().size(), 2u) << "e.webp and e.gif only";
}

} // namespace
} // namespace tavrin
