#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "TestImages.h"
#include "TWin.h"

namespace tavrin {
namespace {

TEST(Surface, StrideAndHeaderFollowTheWidth)
{
    for (const auto& [width, stride] : std::vector<std::pair<int, unsigned>>{
             {0, 0}, {1, 4}, {2, 8}, {3, 12}, {4, 12}, {5, 16}, {101, 304}}) {
        TWin s(width, 3);
        EXPECT_EQ(s.Stride, stride) << "width " << width;
        EXPECT_EQ(s.ByteCount(), std::size_t(stride) * 3);
    }
    TWin s(32, 32);
    EXPECT_EQ(s.Header.Size, 40u);
    EXPECT_EQ(s.Header.Width, 32);
    EXPECT_EQ(s.Header.Height, -32);
    EXPECT_EQ(s.Header.Planes, 1);
    EXPECT_EQ(s.Header.BitCount, 24);
    EXPECT_EQ(s.Height(), 32);
    EXPECT_EQ(s.Stride, 96u);
    EXPECT_EQ(s.Step, 0);
    EXPECT_EQ(s.Cursor, nullptr);
    EXPECT_EQ(s.Probe, nullptr);
}

TEST(Surface, RefusesSizesPastTheLimits)
{
    EXPECT_THROW(TWin(-1, 5), SurfaceError);
    EXPECT_THROW(TWin(5, TWin::MaxSide + 1), SurfaceError);
    EXPECT_THROW(TWin(TWin::MaxSide, TWin::MaxSide), SurfaceError); // 3 GiB of pixels
    TWin empty(0, 7);
    EXPECT_TRUE(empty.Empty());
    EXPECT_EQ(empty.Bits, nullptr);
}

TEST(Surface, CursorAndProbeWalkThePixelBytes)
{
    TWin s = test::PositionPicture(12, 4);
    s.SetCursor(10, 2, -3);
    EXPECT_EQ(s.CursorBlue(), 10);
    EXPECT_EQ(s.CursorGreen(), 2);
    EXPECT_EQ(s.CursorRedAdvance(), std::uint8_t(10 * 7 + 2 * 13 + 1));
    EXPECT_EQ(s.Cursor, s.Bits + 2 * s.Stride + 9 * 3);
    EXPECT_EQ(s.CursorBlue(), 9);

    EXPECT_EQ(s.ProbeBlue(0, 0), s.Bits[0]);
    EXPECT_EQ(s.ProbeRed(), s.Bits[2]);
    EXPECT_EQ(s.ProbeBlue(11, 3), 11);
    EXPECT_EQ(s.ProbeGreen(), 3);
    EXPECT_EQ(s.Probe, s.Bits + 3 * s.Stride + 33);
}

TEST(Surface, CopiesOwnTheirPixelsAndMovesKeepThem)
{
    TWin a = test::RandomPicture(5, 3, 1);
    TWin b(a);
    EXPECT_NE(b.Bits, a.Bits);
    EXPECT_TRUE(test::SamePixels(a, b));
    b.Bits[0] ^= 0xFF;
    EXPECT_FALSE(test::SamePixels(a, b));

    std::uint8_t* bits = a.Bits;
    a.ProbeBlue(1, 1);
    TWin c(std::move(a));
    EXPECT_EQ(c.Bits, bits);
    EXPECT_EQ(c.Probe, bits + c.Stride + 3);
    EXPECT_TRUE(a.Empty());
}

// Records the copies that Draw asks for.
struct RecordingTarget : TDrawTarget {
    // kind, x, y, width, height
    std::vector<std::tuple<char, int, int, int, int>> Calls;
    void BlockCopy(const TWin&, int SrcX, int SrcY, int Width, int Height, int X, int Y) override
    {
        EXPECT_EQ(SrcX, 0);
        EXPECT_EQ(SrcY, 0);
        Calls.emplace_back('B', X, Y, Width, Height);
    }
    void StretchCopy(const TWin&, int X, int Y, int Width, int Height) override
    {
        Calls.emplace_back('S', X, Y, Width, Height);
    }
};

TEST(Surface, DrawModesPlaceTheCopies)
{
    using Calls = std::vector<std::tuple<char, int, int, int, int>>;
    TWin s(100, 50);
    auto draw = [&](int mode, int x, int y, int dw, int dh, int aw, int ah) {
        RecordingTarget target;
        s.Draw(target, mode, x, y, dw, dh, aw, ah);
        return target.Calls;
    };
    EXPECT_EQ(draw(0, 7, 9, 1, 1, 1, 1), (Calls{{'B', 7, 9, 100, 50}}));
    EXPECT_EQ(draw(1, 7, 9, 1, 1, 60, 40), (Calls{{'B', -20, -5, 100, 50}}));
    EXPECT_EQ(draw(2, 7, 9, 1, 1, 60, 40), (Calls{{'S', 0, 0, 60, 40}}));
    EXPECT_EQ(draw(3, 7, 9, 30, 20, 60, 40), (Calls{{'S', 7, 9, 30, 20}}));
    EXPECT_EQ(draw(5, 7, 9, 30, 20, 60, 40), (Calls{{'B', 7, 9, 30, 20}}));
    Calls tiles;
    for (int y : {0, 50, 100})
        for (int x : {0, 100, 200})
            tiles.emplace_back('B', x, y, 100, 50);
    EXPECT_EQ(draw(4, 7, 9, 1, 1, 250, 120), tiles);
    EXPECT_TRUE(draw(6, 0, 0, 1, 1, 250, 120).empty());
    EXPECT_TRUE(draw(-1, 0, 0, 1, 1, 250, 120).empty());

    TWin empty;
    RecordingTarget target;
    empty.Draw(target, 4, 0, 0, 1, 1, 250, 120);
    EXPECT_TRUE(target.Calls.empty());
}

} // namespace
} // namespace tavrin
