#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "Reference.h"
#include "Render.h"
#include "TestImages.h"
#include "TWin.h"

namespace tavrin {
namespace {

std::string Describe(const TWin& Source, const TWin& Output, const SliderPositions& P)
{
    std::ostringstream out;
    out << "source " << Source.Width() << "x" << Source.Height() << ", output " << Output.Width()
        << "x" << Output.Height() << ", sliders";
    for (std::int32_t v : P.Value)
        out << " " << v;
    return out.str();
}

// Renders into two copies of a random output (so that a pixel left unwritten
// shows) and compares every byte, the padding included.
::testing::AssertionResult SameAsDefiningPipeline(const TWin& Source, int OutputWidth,
                                                  int OutputHeight, const SliderPositions& P,
                                                  std::uint32_t Seed)
{
    TWin expected = test::RandomPicture(OutputWidth, OutputHeight, Seed);
    TWin actual = expected;
    reference::Render(Source, expected, P);
    Render(Source, actual, P);
    for (std::size_t i = 0; i < expected.ByteCount(); ++i)
        if (expected.Bits[i] != actual.Bits[i])
            return ::testing::AssertionFailure()
                   << Describe(Source, actual, P) << ": byte " << i << " (row "
                   << i / expected.Stride << ", column " << i % expected.Stride / 3 << ") is "
                   << int(actual.Bits[i]) << ", expected " << int(expected.Bits[i]);
    return ::testing::AssertionSuccess();
}

// Mostly inside the slider's range, sometimes at or beyond its ends.
std::int32_t RandomPosition(std::mt19937& Random, Slider S)
{
    const SliderRange& range = SliderRanges[std::size_t(S)];
    switch (Random() % 10) {
    case 0:
        return range.Min - std::int32_t(Random() % 3000);
    case 1:
        return range.Max + std::int32_t(Random() % 3000);
    case 2:
        return Random() % 2 ? range.Min : range.Max;
    case 3:
        return range.Initial;
    default:
        if (S == Slider::XPosition || S == Slider::YPosition)
            return std::int32_t(Random() % 81) - 40; // near the picture, where it shows
        return range.Min + std::int32_t(Random() % std::uint32_t(range.Max - range.Min + 1));
    }
}

int RandomSide(std::mt19937& Random)
{
    return Random() % 4 == 0 ? 1 + int(Random() % 4) : 1 + int(Random() % 64);
}

TEST(Render, MatchesTheDefiningPipelineOverAllSliders)
{
    std::mt19937 random(77);
    for (int i = 0; i < 2000; ++i) {
        const int width = RandomSide(random);
        const int height = RandomSide(random);
        const TWin source = test::RandomPicture(width, height, random());
        SliderPositions p;
        for (int s = 0; s < SliderCount; ++s)
            p.Value[std::size_t(s)] = RandomPosition(random, Slider(s));
        // The program renders into an output of the source's size; other sizes too.
        int outputWidth = width, outputHeight = height;
        if (random() % 4 == 0) {
            outputWidth = RandomSide(random);
            outputHeight = RandomSide(random);
        }
        ASSERT_TRUE(SameAsDefiningPipeline(source, outputWidth, outputHeight, p, random()))
            << "case " << i;
    }
}

TEST(Render, MatchesTheDefiningPipelineOnLargerPictures)
{
    const TWin source = test::RandomPicture(203, 151, 9);
    const SliderPositions settings[] = {
        {{1, 0, 0, 0, 0, 0, 0, 0}},     {{1, 0, 0, 0, 0, 0, 0, 37}},
        {{4, 4, 0, 0, 0, 0, 0, 37}},    {{30, 30, 1, 1, 0, 0, 0, 37}},
        {{30, 30, 0, 0, 1, 0, 0, 37}},  {{1, 1, 1, 1, 0, -17, 23, 90}},
        {{7, 3, 1, 0, 0, 60, -9, 180}}, {{2, 30, 0, 1, 0, 0, 0, 360}},
    };
    for (const SliderPositions& p : settings) {
        EXPECT_TRUE(SameAsDefiningPipeline(source, 203, 151, p, 1));
        EXPECT_TRUE(SameAsDefiningPipeline(source, 250, 120, p, 2));
    }
}

TEST(Render, StartPositionsShowThePictureWithOddEdgesBlack)
{
    // Unturned, the picture's last odd column and row are not drawn.
    const TWin source = test::RandomPicture(9, 7, 3);
    TWin output = test::RandomPicture(9, 7, 4);
    Render(source, output, SliderPositions{});
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x)
            EXPECT_EQ(test::PixelAt(output, x, y),
                      x == 8 || y == 6 ? 0u : test::PixelAt(source, x, y))
                << x << "," << y;
}

TEST(Render, EmptySourceLeavesTheOutputBlack)
{
    SliderPositions p;
    p[Slider::XSlice] = 3;
    p[Slider::Angle] = 45;
    TWin output = test::RandomPicture(5, 4, 8);
    const TWin before = output;
    Render(TWin(), output, p);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(test::PixelAt(output, x, y), 0u);
        for (std::uint32_t b = 15; b < output.Stride; ++b)
            EXPECT_EQ(output.Row(y)[b], before.Row(y)[b]) << "padding of row " << y;
    }
}

TEST(Render, EmptyOutputStaysEmpty)
{
    SliderPositions p;
    p[Slider::YSlice] = 2;
    TWin empty;
    Render(test::RandomPicture(3, 3, 1), empty, p);
    EXPECT_TRUE(empty.Empty());
}

} // namespace
} // namespace tavrin
