// Runs the tavrin-render executable as other programs drive it.
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>
#include <string>
#include <vector>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "../surface/TestImages.h"
#include "ImageFiles.h"
#include "Render.h"
#include "SettingsText.h"
#include "SweepExport.h"
#include "TWin.h"

namespace tavrin {
namespace {

namespace fs = std::filesystem;

struct Result {
    int Status;
    std::string Output; // standard output and error together
};

// Environment: "NAME=value ..." for the renderer alone.
Result RunRenderer(const std::string& Arguments, const std::string& Environment = "")
{
    const std::string command =
        Environment + " " + std::string(TAVRIN_RENDER) + " " + Arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    EXPECT_NE(pipe, nullptr);
    std::string output;
    std::array<char, 512> buffer{};
    while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe))
        output.append(buffer.data(), n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

class RenderCli : public ::testing::Test {
protected:
    void SetUp() override
    {
        Dir = fs::temp_directory_path() /
              ("tavrin-cli-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(Dir);
        Input = (Dir / "in.bmp").string();
        Picture = test::RandomPicture(37, 23, 5);
        Picture.SaveToFile(Input);
    }
    void TearDown() override { fs::remove_all(Dir); }

    TWin Load(const std::string& Name)
    {
        TWin s;
        s.LoadFromFile((Dir / Name).string());
        return s;
    }

    fs::path Dir;
    std::string Input;
    TWin Picture;
};

TEST_F(RenderCli, WithoutSlidersCopiesTheImage)
{
    const Result r = RunRenderer(Input + " " + (Dir / "out.bmp").string());
    EXPECT_EQ(r.Status, 0) << r.Output;
    EXPECT_TRUE(test::SamePixels(Load("out.bmp"), Picture));
}

TEST_F(RenderCli, SliderOptionsRenderClamped)
{
    const Result r = RunRenderer(Input + " " + (Dir / "out.bmp").string() +
                                 " --angle=400 --x-slice 3 --tavrin-x=1 --y-position -7");
    ASSERT_EQ(r.Status, 0) << r.Output;
    SliderPositions p;
    p[Slider::Angle] = 360;
    p[Slider::XSlice] = 3;
    p[Slider::TavrinX] = 1;
    p[Slider::YPosition] = -7;
    TWin expected(Picture.Width(), Picture.Height());
    Render(Picture, expected, p);
    EXPECT_TRUE(test::SamePixels(Load("out.bmp"), expected));

    // --render alone renders the initial positions, which differ from the
    // image as loaded in the odd last column and row.
    ASSERT_EQ(RunRenderer(Input + " " + (Dir / "initial.bmp").string() + " --render").Status, 0);
    TWin initial(Picture.Width(), Picture.Height());
    Render(Picture, initial, SliderPositions{});
    EXPECT_TRUE(test::SamePixels(Load("initial.bmp"), initial));
    EXPECT_FALSE(test::SamePixels(initial, Picture));
}

TEST_F(RenderCli, TakesTheSettingsThatThePanelCopies)
{
    SliderPositions settings[2];
    settings[1].Value = {4, 3, 1, 0, 1, -6, 2, 37};
    for (const SliderPositions& p : settings) {
        const std::string text = SettingsText(p);
        const Result r = RunRenderer(Input + " " + (Dir / "out.bmp").string() + " " + text);
        ASSERT_EQ(r.Status, 0) << text << ": " << r.Output;
        TWin expected(Picture.Width(), Picture.Height());
        Render(Picture, expected, p);
        EXPECT_TRUE(test::SamePixels(Load("out.bmp"), expected)) << text;
    }
}

TEST_F(RenderCli, BadArgumentsAreUsageErrors)
{
    const std::string out = (Dir / "out.bmp").string();
    for (const std::string& args :
         {std::string(""), Input, Input + " " + out + " extra", Input + " " + out + " --bogus",
          Input + " " + out + " --angle", Input + " " + out + " --render=1"}) {
        const Result r = RunRenderer(args);
        EXPECT_EQ(r.Status, 2) << args;
        EXPECT_NE(r.Output.find("Usage:"), std::string::npos) << args;
    }
    const Result r = RunRenderer(Input + " " + out + " --angle 12.5");
    EXPECT_EQ(r.Status, 2);
    EXPECT_NE(r.Output.find("--angle"), std::string::npos) << r.Output;
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(RenderCli, FileErrorsExitWithOne)
{
    const std::string missing = (Dir / "missing.bmp").string();
    Result r = RunRenderer(missing + " " + (Dir / "out.bmp").string());
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Output.find("Cannot open file " + missing), std::string::npos) << r.Output;

    r = RunRenderer(Input + " " + (Dir / "no-such-folder" / "out.bmp").string());
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Output.find("Cannot create file"), std::string::npos) << r.Output;
}

std::vector<char> ReadAll(const fs::path& File)
{
    std::ifstream in(File, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_F(RenderCli, SweepWritesWhatTheExportWrites)
{
    TSweepExport settings;
    settings.Sweep = {Slider::Angle, 40, 10, 15};
    settings.Base[Slider::YSlice] = 2;
    settings.Base[Slider::TavrinY] = 1;
    settings.Options.Fps = 12;
    for (const std::string name : {"s.webp", "s.gif"}) {
        TWin output(Picture.Width(), Picture.Height());
        ASSERT_TRUE(ExportSweep(Picture, output, settings, (Dir / ("lib-" + name)).string(), {}));
        // Standard input and error are not terminals here: nothing is shown or
        // asked. The renderer gets one thread, the library here every core:
        // the bytes are the same.
        const Result r = RunRenderer(Input + " " + (Dir / name).string() +
                                         " --y-slice 2 --sweep=angle:40:10:15 --tavrin-y 1 "
                                         "--fps 12 </dev/null",
                                     "OMP_NUM_THREADS=1");
        ASSERT_EQ(r.Status, 0) << r.Output;
        EXPECT_EQ(r.Output, "");
        EXPECT_EQ(ReadAll(Dir / name), ReadAll(Dir / ("lib-" + name))) << name;
    }
    const Result r = RunRenderer(Input + " " + (Dir / "q.webp").string() +
                                 " --sweep x-slice:3:1 --quality 60 --progress");
    ASSERT_EQ(r.Status, 0) << r.Output;
    EXPECT_NE(r.Output.find("frame 3/3, 0:00 left"), std::string::npos) << r.Output;
    settings.Sweep = {Slider::XSlice, 3, 1, 1};
    settings.Base = SliderPositions{};
    settings.Options = {25, 60};
    TWin output(Picture.Width(), Picture.Height());
    ASSERT_TRUE(ExportSweep(Picture, output, settings, (Dir / "lib-q.webp").string(), {}));
    EXPECT_EQ(ReadAll(Dir / "q.webp"), ReadAll(Dir / "lib-q.webp"));

    ASSERT_EQ(RunRenderer(Input + " " + (Dir / "still-%03d.bmp").string() +
                          " --sweep lock-xy:0:1")
                  .Status,
              0);
    TWin locked(Picture.Width(), Picture.Height());
    SliderPositions p;
    p[Slider::LockXY] = 1;
    Render(Picture, locked, p);
    EXPECT_TRUE(test::SamePixels(Load("still-002.bmp"), locked));
}

TEST_F(RenderCli, SweepStillsInAnyStillFormat)
{
    const Result r = RunRenderer(Input + " " + (Dir / "p-%02d.png").string() +
                                 " --sweep angle:5:0:2 --y-slice 3");
    ASSERT_EQ(r.Status, 0) << r.Output;
    const int angles[] = {5, 3, 1}; // 0 is not reached
    for (int i = 0; i < 3; ++i) {
        SliderPositions p;
        p[Slider::Angle] = angles[i];
        p[Slider::YSlice] = 3;
        TWin expected(Picture.Width(), Picture.Height());
        Render(Picture, expected, p);
        const fs::path still = Dir / ("p-0" + std::to_string(i + 1) + ".png");
        EXPECT_TRUE(test::SamePixels(ReadImageFile(QString::fromStdString(still.string())),
                                     expected))
            << still;
    }
    EXPECT_FALSE(fs::exists(Dir / "p-04.png"));
}

TEST_F(RenderCli, BadSweepsAreUsageErrors)
{
    const std::string gif = (Dir / "out.gif").string();
    const std::pair<std::string, const char*> cases[] = {
        {gif, "--sweep angle:0:10 --sweep angle:0:10"},
        {gif, "--sweep spin:0:10"},
        {gif, "--sweep --angle:0:10"},
        {gif, "--sweep angle:0"},
        {gif, "--sweep angle:0:1:2:3"},
        {gif, "--sweep angle:a:10"},
        {gif, "--sweep angle:0:1.5"},
        {gif, "--sweep angle::10"},
        {gif, "--sweep angle:0:10:0"},
        {gif, "--sweep angle:10:0:-1"},
        {gif, "--sweep angle:0:10000"},
        {gif, "--sweep angle:0:1 --fps 0"},
        {gif, "--sweep angle:0:1 --fps 101"},
        {gif, "--sweep angle:0:1 --fps x"},
        {gif, "--sweep angle:0:1 --quality 0"},
        {gif, "--fps 10"},
        {gif, "--angle 3 --progress"},
        {gif, "--sweep"},
        {(Dir / "out.png").string(), "--sweep angle:0:1"},
        {(Dir / "out-%s.bmp").string(), "--sweep angle:0:1"},
    };
    for (const auto& [output, options] : cases) {
        const Result r = RunRenderer(Input + " " + output + " " + options);
        EXPECT_EQ(r.Status, 2) << options << "\n" << r.Output;
        EXPECT_NE(r.Output.find("Usage:"), std::string::npos) << options;
    }
    EXPECT_NE(RunRenderer(Input + " " + gif + " --sweep spin:0:10").Output.find("spin"),
              std::string::npos);
    EXPECT_NE(RunRenderer(Input + " " + gif + " --sweep angle:0:10000").Output.find("10000 frames"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(Dir / "out.gif"));
}

TEST_F(RenderCli, InterruptedSweepLeavesNoFile)
{
    // Lossless WebP frames of 300 x 200 take tens of milliseconds each:
    // 3001 of them outlast the half second before the termination signal.
    const std::string input = (Dir / "big.bmp").string();
    test::RandomPicture(300, 200, 9).SaveToFile(input);
    for (const char* output : {"turn.webp", "f-%d.bmp"}) {
        const Result r = RunRenderer(input + " " + (Dir / output).string() +
                                     " --sweep x-position:-1500:1500 </dev/null 2>&1 & "
                                     "sleep 0.5; kill $!; wait $!; exit $?");
        EXPECT_EQ(r.Status, 1) << output;
        EXPECT_NE(r.Output.find("interrupted"), std::string::npos) << r.Output;
    }
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(Dir))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"big.bmp", "in.bmp"}));
}

TEST_F(RenderCli, SizeAveragesTheFullFrames)
{
    // 54 x 36 fitted within 18: every pixel the mean of a 3 x 3 block, in
    // any format and on any number of threads.
    const std::string input = (Dir / "even.bmp").string();
    const TWin picture = test::RandomPicture(54, 36, 3);
    picture.SaveToFile(input);
    for (const char* threads : {"OMP_NUM_THREADS=1", "OMP_NUM_THREADS=3"}) {
        const Result r = RunRenderer(
            input + " " + (Dir / "small-%d.bmp").string() + " --sweep angle:0:20:20 --size 18",
            threads);
        ASSERT_EQ(r.Status, 0) << r.Output;
        for (int i = 0; i < 2; ++i) {
            SliderPositions p;
            p[Slider::Angle] = 20 * i;
            TWin full(54, 36);
            Render(picture, full, p);
            TWin expected(18, 12);
            for (int y = 0; y < 12; ++y)
                for (int x = 0; x < 18; ++x)
                    for (int c = 0; c < 3; ++c) {
                        int sum = 0;
                        for (int v = 0; v < 3; ++v)
                            for (int u = 0; u < 3; ++u)
                                sum += full.Row(3 * y + v)[3 * (3 * x + u) + c];
                        expected.Row(y)[3 * x + c] = std::uint8_t((sum + 4) / 9);
                    }
            EXPECT_TRUE(
                test::SamePixels(Load("small-" + std::to_string(i + 1) + ".bmp"), expected))
                << threads << ", frame " << i + 1;
        }
    }
    for (const char* bad : {"--size 15", "--size -1", "--size 40000", "--size x"}) {
        const Result r =
            RunRenderer(Input + " " + (Dir / "b.gif").string() + " --sweep angle:0:1 " + bad);
        EXPECT_EQ(r.Status, 2) << bad << "\n" << r.Output;
    }
    EXPECT_EQ(ExportFrameSize(37, 23, 16).Height, 10); // 9.95, rounded
}

TEST_F(RenderCli, VideoWithoutFfmpegOrInterruptedLeavesNoFile)
{
    std::ofstream(Dir / "old.mp4") << "old";
    const Result missing = RunRenderer(
        Input + " " + (Dir / "old.mp4").string() + " --sweep angle:0:3", "PATH=/nonexistent");
    EXPECT_EQ(missing.Status, 1);
    EXPECT_NE(missing.Output.find("ffmpeg program, which is not installed"), std::string::npos)
        << missing.Output;
    // 3001 frames of 300 x 200 outlast the half second before the signal.
    const std::string input = (Dir / "big.bmp").string();
    test::RandomPicture(300, 200, 9).SaveToFile(input);
    const Result r = RunRenderer(input + " " + (Dir / "old.mp4").string() +
                                 " --sweep x-position:-1500:1500 </dev/null 2>&1 & "
                                 "sleep 0.5; kill $!; wait $!; exit $?");
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Output.find("interrupted"), std::string::npos) << r.Output;
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(Dir))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"big.bmp", "in.bmp", "old.mp4"}));
    EXPECT_EQ(ReadAll(Dir / "old.mp4").size(), 3u);
}

TEST_F(RenderCli, LargeExportsAreWrittenOnlyWhenAllowed)
{
    // 10,000 stills of 120,054 bytes each: about 1.1 GiB.
    TWin big(200, 200);
    big.SaveToFile((Dir / "big.bmp").string());
    const std::string args = (Dir / "big.bmp").string() + " " + (Dir / "f-%05d.bmp").string() +
                             " --sweep lock-xy:-4999:5000";
    const Result r = RunRenderer(args + " </dev/null");
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Output.find("--yes"), std::string::npos) << r.Output;
    EXPECT_FALSE(fs::exists(Dir / "f-00001.bmp"));
    // A small sweep of the same picture is written without a question.
    ASSERT_EQ(RunRenderer((Dir / "big.bmp").string() + " " + (Dir / "g-%d.bmp").string() +
                          " --sweep lock-xy:0:1 </dev/null")
                  .Status,
              0);
    EXPECT_TRUE(fs::exists(Dir / "g-2.bmp"));
}

// Any format in, the output's extension chooses the format out, and the
// render is the same whatever the files' formats.
TEST_F(RenderCli, ImageFormatsInAndOut)
{
    const std::string png = (Dir / "in.png").string();
    ASSERT_EQ(RunRenderer(Input + " " + png).Status, 0);
    EXPECT_TRUE(test::SamePixels(ReadImageFile(QString::fromStdString(png)), Picture));
    for (const char* out : {"out.tif", "out.WEBP", "out.bmp"}) {
        const Result r = RunRenderer(png + " " + (Dir / out).string() + " --angle 33 --x-slice 3");
        ASSERT_EQ(r.Status, 0) << out << ": " << r.Output;
        TWin expected(Picture.Width(), Picture.Height());
        SliderPositions positions;
        positions[Slider::Angle] = 33;
        positions[Slider::XSlice] = 3;
        Render(Picture, expected, positions);
        EXPECT_TRUE(test::SamePixels(ReadImageFile(QString::fromStdString((Dir / out).string())),
                                     expected))
            << out;
    }
    ASSERT_EQ(RunRenderer(png + " " + (Dir / "fine.jpg").string()).Status, 0);
    ASSERT_EQ(RunRenderer(png + " " + (Dir / "coarse.jpeg").string() + " --quality 5").Status, 0);
    EXPECT_LT(fs::file_size(Dir / "coarse.jpeg"), fs::file_size(Dir / "fine.jpg"));

    Result r = RunRenderer(png + " " + (Dir / "out.gif").string());
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Output.find(".bmp, .png, .jpg, .jpeg, .webp, .tif, .tiff"), std::string::npos)
        << r.Output;
    for (const char* quality : {"0", "101", "high"}) {
        r = RunRenderer(png + " " + (Dir / "q.jpg").string() + " --quality " + quality);
        EXPECT_EQ(r.Status, 2) << quality;
        EXPECT_NE(r.Output.find("--quality"), std::string::npos) << r.Output;
    }
    EXPECT_FALSE(fs::exists(Dir / "out.gif"));
    EXPECT_FALSE(fs::exists(Dir / "q.jpg"));
}

TEST(RenderCliInfo, FormatsListsWhatIsReadAndWritten)
{
    const Result r = RunRenderer("--formats");
    EXPECT_EQ(r.Status, 0);
    const std::size_t reads = r.Output.find("Reads:");
    const std::size_t writes = r.Output.find("Writes: bmp jpeg jpg png tif tiff webp\n");
    ASSERT_NE(reads, std::string::npos) << r.Output;
    ASSERT_NE(writes, std::string::npos) << r.Output;
    for (const char* format :
         {" avif ", " bmp ", " gif ", " heic ", " jpg ", " png ", " tiff ", " webp"})
        EXPECT_NE(r.Output.substr(reads, writes - reads).find(format), std::string::npos) << format;
}

TEST(RenderCliInfo, HelpAndVersion)
{
    Result r = RunRenderer("--help");
    EXPECT_EQ(r.Status, 0);
    EXPECT_NE(r.Output.find("--x-slice"), std::string::npos);
    r = RunRenderer("--version");
    EXPECT_EQ(r.Status, 0);
    EXPECT_NE(r.Output.find("1.2"), std::string::npos);
}

} // namespace
} // namespace tavrin
