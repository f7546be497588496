// Sweeps written as MP4 and WebM, read back by ffprobe and ffmpeg (programs
// apart from the writer) and compared with the defining render of every
// frame; and the ways a video export can fail.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Reference.h"
#include "SurfaceError.h"
#include "ExportFixture.h"
#include "SweepExport.h"

namespace tavrin {
namespace {

namespace fs = std::filesystem;

std::string Run(const std::string& Command)
{
    FILE* pipe = popen(Command.c_str(), "r");
    std::string output;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, n);
    pclose(pipe);
    return output;
}

// ffprobe's "key=value" lines for the video stream and the container.
std::string Probe(const fs::path& File)
{
    return Run("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
               "stream=codec_name,width,height,pix_fmt,r_frame_rate,nb_read_frames "
               "-show_entries format=duration -of default=noprint_wrappers=1 '" +
               File.string() + "'");
}

std::vector<TWin> DecodeFrames(const fs::path& File, int Width, int Height)
{
    const std::string bytes =
        Run("ffmpeg -v error -i '" + File.string() +
            "' -sws_flags bicubic+accurate_rnd+full_chroma_int -f rawvideo -pix_fmt bgr24 -");
    std::vector<TWin> frames;
    const std::size_t frameBytes = std::size_t(Width) * Height * 3;
    for (std::size_t at = 0; at + frameBytes <= bytes.size(); at += frameBytes) {
        TWin frame(Width, Height);
        for (int y = 0; y < Height; ++y)
            std::copy_n(bytes.data() + at + std::size_t(y) * Width * 3, Width * 3, frame.Row(y));
        frames.push_back(std::move(frame));
    }
    return frames;
}

// Peak signal-to-noise ratio of Decoded's top-left part against Exact, in dB.
double Psnr(const TWin& Exact, const TWin& Decoded)
{
    double squares = 0;
    for (int y = 0; y < Exact.Height(); ++y)
        for (int x = 0; x < 3 * Exact.Width(); ++x) {
            const double d = double(Exact.Row(y)[x]) - double(Decoded.Row(y)[x]);
            squares += d * d;
        }
    const double mean = squares / (3.0 * Exact.Width() * Exact.Height());
    return 10 * std::log10(255.0 * 255.0 / std::max(mean, 1e-9));
}

// As a photo is: smooth colours under fine detail in brightness, so that a
// codec's losses show; and no symmetry.
TWin ShadedPicture(int Width, int Height)
{
    TWin picture(Width, Height);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            const double detail = 24 * std::sin(x / 2.5) * std::sin(y / 3.5);
            std::uint8_t* p = picture.Row(y) + 3 * x;
            p[0] = std::uint8_t(128 + 80 * std::sin(x / 19.0 + y / 23.0) + detail);
            p[1] = std::uint8_t(30 + 190 * x / Width + detail);
            p[2] = std::uint8_t(40 + 180 * y / Height + detail);
        }
    return picture;
}

class VideoExport : public test::TExportFolder {
protected:
    void SetUp() override
    {
        TExportFolder::SetUp();
        Path = std::getenv("PATH");
    }
    void TearDown() override
    {
        setenv("PATH", Path.c_str(), 1);
        TExportFolder::TearDown();
    }

    // A folder on PATH alone, with an "ffmpeg" that runs Script.
    void FakeFfmpeg(const std::string& Script)
    {
        fs::create_directories(Dir / "bin");
        std::ofstream(Dir / "bin" / "ffmpeg") << "#!/bin/sh\nPATH=/usr/bin:/bin\n" << Script << "\n";
        fs::permissions(Dir / "bin" / "ffmpeg", fs::perms::owner_all);
        setenv("PATH", (Dir / "bin").c_str(), 1);
    }

    std::string Path;
};

TEST_F(VideoExport, DecodesToTheFramesAtTheirRateAndLength)
{
    const TWin source = ShadedPicture(480, 270);
    TSweepExport settings;
    settings.Sweep = {Slider::XPosition, 0, -22, 2}; // 12 frames
    settings.Base[Slider::XSlice] = 2;
    settings.Options.Fps = 30;
    for (const char* name : {"sweep.mp4", "sweep.webm"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(Export(source, settings, name));
        const std::string probe = Probe(Dir / name);
        const bool mp4 = std::string(name).ends_with(".mp4");
        EXPECT_NE(probe.find(mp4 ? "codec_name=h264" : "codec_name=vp9"), std::string::npos)
            << probe;
        for (const char* expected : {"width=480\n", "height=270\n", "pix_fmt=yuv420p\n",
                                     "r_frame_rate=30/1\n", "nb_read_frames=12\n",
                                     "duration=0.400000\n"})
            EXPECT_NE(probe.find(expected), std::string::npos) << expected << " in\n" << probe;

        const std::vector<TWin> frames = DecodeFrames(Dir / name, 480, 270);
        ASSERT_EQ(frames.size(), 12u);
        for (int i = 0; i < 12; ++i) {
            SliderPositions p;
            p[Slider::XSlice] = 2;
            p[Slider::XPosition] = -2 * i;
            TWin exact(480, 270);
            reference::Render(source, exact, p);
            EXPECT_GE(Psnr(exact, frames[std::size_t(i)]), 40.0) << "frame " << i;
        }
    }
    // Players start an MP4 before it has all arrived: the index comes first.
    std::ifstream in(Dir / "sweep.mp4", std::ios::binary);
    const std::string mp4{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_LT(mp4.find("moov"), mp4.find("mdat"));
    EXPECT_EQ(Files("bin"), (std::vector<std::string>{"sweep.mp4", "sweep.webm"}));
}

TEST_F(VideoExport, OddSidesArePaddedWithBlack)
{
    // A white picture, so that the black of the padding shows.
    TWin white(33, 17);
    std::fill_n(white.Bits, white.ByteCount(), std::uint8_t(255));
    TSweepExport settings;
    settings.Sweep = {Slider::Angle, 0, 0, 1};
    for (const char* name : {"odd.mp4", "odd.webm"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(Export(white, settings, name));
        const std::string probe = Probe(Dir / name);
        EXPECT_NE(probe.find("width=34\nheight=18\n"), std::string::npos) << probe;
        const std::vector<TWin> frames = DecodeFrames(Dir / name, 34, 18);
        ASSERT_EQ(frames.size(), 1u);
        // The picture white, the padding's column and row black.
        EXPECT_GT(frames[0].Row(8)[3 * 20 + 1], 240);
        EXPECT_LT(frames[0].Row(8)[3 * 33 + 1], 24);
        EXPECT_LT(frames[0].Row(17)[3 * 20 + 1], 24);
    }
}

TEST_F(VideoExport, FailureOrCancelLeavesNoFileAndKeepsTheOldOne)
{
    const TWin source = ShadedPicture(64, 48);
    TSweepExport settings;
    settings.Sweep = {Slider::Angle, 0, 29, 1};
    std::ofstream(Dir / "old.mp4") << "old";
    const auto expectFailure = [&](const std::string& Name, const std::string& Message) {
        try {
            Export(source, settings, Name);
            ADD_FAILURE() << Name << " was written";
        } catch (const SurfaceError& error) {
            EXPECT_NE(std::string(error.what()).find(Message), std::string::npos) << error.what();
        }
    };
    // Cancelled at the third frame.
    EXPECT_FALSE(Export(source, settings, "old.mp4",
                        [](std::int64_t Done, std::int64_t) { return Done < 3; }));
    EXPECT_FALSE(Export(source, settings, "new.webm",
                        [](std::int64_t Done, std::int64_t) { return Done < 3; }));
    expectFailure("missing/new.mp4", "there is no folder");

    // An ffmpeg that reads a little, says why it stops and is killed.
    FakeFfmpeg("head -c 5000 >/dev/null; echo 'out of disc space' >&2; kill -KILL $$");
    expectFailure("old.mp4", "ffmpeg failed:\nout of disc space");
    // One that fails at once, before reading anything.
    FakeFfmpeg("echo 'Unknown encoder libx264' >&2; exit 1");
    expectFailure("new.webm", "Unknown encoder libx264");
    // None at all.
    setenv("PATH", (Dir / "nowhere").c_str(), 1);
    expectFailure("old.mp4", "ffmpeg program, which is not installed");
    EXPECT_TRUE(FindFfmpeg().empty());

    EXPECT_EQ(Files("bin"), std::vector<std::string>{"old.mp4"});
    std::ifstream old(Dir / "old.mp4");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), "old");
}

} // namespace
} // namespace tavrin
