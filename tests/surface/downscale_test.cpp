// The area-average resize against the plainest statement of it: stretch the
// source by the destination's size and the destination by the source's, so
// that both land on one fine grid, and average the cells each destination
// pixel owns.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "Downscale.h"
#include "TestImages.h"

namespace tavrin {
namespace {

TWin Reference(const TWin& Source, int Width, int Height)
{
    TWin Dest(Width, Height);
    const int SW = Source.Width(), SH = Source.Height();
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
            for (int c = 0; c < 3; ++c) {
                std::uint64_t sum = 0;
                for (int fy = y * SH; fy < (y + 1) * SH; ++fy)
                    for (int fx = x * SW; fx < (x + 1) * SW; ++fx)
                        sum += Source.Row(fy / Height)[3 * (fx / Width) + c];
                Dest.Row(y)[3 * x + c] = std::uint8_t(std::lround(double(sum) / (double(SW) * SH)));
            }
    return Dest;
}

TEST(AreaDownscale, EqualsTheFineGridAverageWholeAndInParts)
{
    std::mt19937 random(17);
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    for (int round = 0; round < 300; ++round) {
        const int sw = uniform(1, 48), sh = uniform(1, 40);
        // Mostly smaller, sometimes the same or a little larger on one axis.
        const int dw = uniform(1, sw + 2), dh = uniform(1, round % 5 == 0 ? sh : sh + 2);
        const TWin source = test::RandomPicture(sw, sh, std::uint32_t(round));
        const TWin want = Reference(source, dw, dh);
        SCOPED_TRACE(testing::Message() << sw << "x" << sh << " to " << dw << "x" << dh);

        TWin whole(dw, dh);
        AreaDownscale(source, whole);
        EXPECT_TRUE(test::SamePixels(whole, want));

        // A part, possibly reaching past the edges, written over other pixels.
        const TRect area{uniform(-3, dw), uniform(-3, dh), uniform(0, dw + 3), uniform(0, dh + 3)};
        TWin part = test::RandomPicture(dw, dh, std::uint32_t(round + 1000));
        const TWin before = part;
        AreaDownscale(source, part, area);
        for (int y = 0; y < dh; ++y)
            for (int x = 0; x < dw; ++x) {
                const bool inside = x >= area.Left && x < area.Right && y >= area.Top && y < area.Bottom;
                ASSERT_EQ(test::PixelAt(part, x, y), test::PixelAt(inside ? want : before, x, y))
                    << "at " << x << "," << y << (inside ? " inside" : " outside") << " the area";
            }
    }
}

TEST(AreaDownscale, FullWhiteOfTheWidestRowStaysWhite)
{
    TWin source(TWin::MaxSide, 2);
    std::fill(source.Bits, source.Bits + source.ByteCount(), std::uint8_t(255));
    TWin dest(3, 1);
    AreaDownscale(source, dest);
    for (int x = 0; x < 3; ++x)
        EXPECT_EQ(test::PixelAt(dest, x, 0), 0xFFFFFFu);
}

} // namespace
} // namespace tavrin
