// Runs the tavrin-render executable as other programs drive it.
#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "../surface/TestImages.h"
#include "Render.h"
#include "TWin.h"

namespace tavrin {
namespace {

namespace fs = std::filesystem;

struct Result {
    int Status;
    std::string Output; // standard output and error together
};

Result RunRenderer(const std::string& Arguments)
{
    const std::string command = std::string(TAVRIN_RENDER) + " " + Arguments + " 2>&1";
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
