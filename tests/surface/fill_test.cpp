#include <gtest/gtest.h>

#include "Blend.h"
#include "TestImages.h"
#include "TWin.h"

namespace tavrin {
namespace {

TEST(BlendChannel, WorkedExamples)
{
    EXPECT_EQ(BlendChannel(100, 201, 64, 0), 150);
    EXPECT_EQ(BlendChannel(255, 0, 1, 0), 253);
    EXPECT_EQ(BlendChannel(0, 255, 127, 0), 253);
    EXPECT_EQ(BlendChannel(200, 50, 96, 0), 87);
    EXPECT_EQ(BlendChannel(10, 300, 128, 1), 255);
    EXPECT_EQ(BlendChannel(10, 300, 128, 0), 300);
    EXPECT_EQ(BlendChannel(10, 300, 128, 0) & 0xFF, 44);
    EXPECT_EQ(BlendChannel(10, 300, 0, 1), 10);
    EXPECT_EQ(BlendChannel(7, 9, 200, 0), 9);
    EXPECT_EQ(BlendChannel(7, 9, -3, 0), 9);
    EXPECT_EQ(BlendChannel(7, 300, -3, 1), 255);
    EXPECT_EQ(BlendChannel(10, -5, 64, 0), 2);
    EXPECT_EQ(BlendChannel(10, -5, 64, 1), 5);
    EXPECT_EQ(BlendChannel(0, -300, 64, 0) & 0xFF, (-150 + 256) & 0xFF);
}

TEST(BlendChannel, LowByteIsTheFlooredMeanForAnyLevel)
{
    // Independent of the shift: exact rational floor, then the low 8 bits.
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i) {
        const int old = int(random() % 256);
        const int value = int(random() % 2001) - 1000;
        const int level = int(random() % 129);
        const long long sum = 1LL * old * (128 - level) + 1LL * value * level;
        long long floored = sum / 128;
        if (sum % 128 != 0 && sum < 0)
            --floored;
        ASSERT_EQ(BlendChannel(old, value, level, 0) & 0xFF, int(floored & 0xFF))
            << old << " " << value << " " << level;
    }
}

TEST(FillRect, ClampsCornersIntoTheSurface)
{
    TWin s = test::RandomPicture(5, 3, 3);
    const TWin before = s;
    s.FillRect(2000, 0, 3000, 1, 1, 2, 3, 128);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            const bool painted = x == 4 && y <= 1;
            EXPECT_EQ(test::PixelAt(s, x, y), painted ? 0x010203u : test::PixelAt(before, x, y))
                << x << "," << y;
        }
    EXPECT_EQ(s.Step, 3);
    EXPECT_EQ(s.Cursor, s.Bits + 1 * s.Stride + 5 * 3);

    TWin a = before, b = before;
    a.FillRect(3, 2, 1, 1, 9, 8, 7, 128);
    b.FillRect(1, 1, 3, 2, 9, 8, 7, 128);
    EXPECT_TRUE(test::SamePixels(a, b));
    EXPECT_EQ(test::PixelAt(a, 1, 1), 0x090807u);
    EXPECT_EQ(test::PixelAt(a, 0, 1), test::PixelAt(before, 0, 1));
}

TEST(FillRect, TintsThroughTheKernel)
{
    TWin s(4, 3);
    std::fill(s.Bits, s.Bits + s.ByteCount(), std::uint8_t(100));
    s.FillRect(-5, -5, 0, 0, 201, 201, 201, 64);
    EXPECT_EQ(test::PixelAt(s, 0, 0), 0x969696u);
    EXPECT_EQ(test::PixelAt(s, 1, 0), 0x646464u);
    EXPECT_EQ(test::PixelAt(s, 0, 1), 0x646464u);

    s.FillRect(0, 0, 3, 2, 511, 256, 7, 200);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(test::PixelAt(s, x, y), 0xFF0007u);

    const TWin before = s;
    s.Step = 0;
    s.FillRect(0, 0, 1, 1, 1, 2, 3, 0);
    EXPECT_TRUE(test::SamePixels(s, before));
    EXPECT_EQ(s.Step, 3);
    EXPECT_EQ(s.Cursor, s.Bits + s.Stride + 6);
}

TEST(FillRect, RenderClearLeavesRowPadding)
{
    TWin s = test::RandomPicture(5, 4, 11);
    const TWin before = s;
    s.FillRect(0, 0, 4, 3, 0, 0, 0, 128);
    for (int y = 0; y < 4; ++y) {
        for (int i = 0; i < 15; ++i)
            EXPECT_EQ(s.Row(y)[i], 0);
        EXPECT_EQ(s.Row(y)[15], before.Row(y)[15]);
    }
    TWin empty(0, 0);
    empty.FillRect(0, 0, 10, 10, 1, 2, 3, 128); // harmless
    EXPECT_TRUE(empty.Empty());
}

} // namespace
} // namespace tavrin
