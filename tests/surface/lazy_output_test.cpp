// Parts of the render, drawn in any order and completed, against the
// defining pipeline's loops.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <vector>

#include "LazyOutput.h"
#include "Reference.h"
#include "Render.h"
#include "TestImages.h"
#include "TWin.h"

namespace tavrin {
namespace {

std::string Describe(const TWin& Output, const SliderPositions& P, const TRect& Area)
{
    std::ostringstream out;
    out << "output " << Output.Width() << "x" << Output.Height() << ", sliders";
    for (std::int32_t v : P.Value)
        out << " " << v;
    out << ", area " << Area.Left << "," << Area.Top << " to " << Area.Right << "," << Area.Bottom;
    return out.str();
}

bool Inside(const TRect& Area, int X, int Y)
{
    return X >= Area.Left && X < Area.Right && Y >= Area.Top && Y < Area.Bottom;
}

// Inside Area the pixels of Full, elsewhere those of Before; the padding as in Before.
::testing::AssertionResult ShowsInside(const TWin& Actual, const TWin& Before, const TWin& Full,
                                       const TRect& Area)
{
    for (int y = 0; y < Actual.Height(); ++y)
        for (std::uint32_t b = 0; b < Actual.Stride; ++b) {
            const int x = int(b / 3);
            const bool pixel = x < Actual.Width();
            const TWin& want = pixel && Inside(Area, x, y) ? Full : Before;
            if (Actual.Row(y)[b] != want.Row(y)[b])
                return ::testing::AssertionFailure()
                       << "pixel " << x << "," << y << " byte " << b % 3 << " is "
                       << int(Actual.Row(y)[b]) << ", expected " << int(want.Row(y)[b])
                       << (&want == &Full ? " (rendered)" : " (untouched)");
        }
    return ::testing::AssertionSuccess();
}

class RegionDiff : public ::testing::Test {
protected:
    std::mt19937 Random{4242};

    int Uniform(int Low, int High) { return std::uniform_int_distribution<int>(Low, High)(Random); }

    // Most settings slice, so that template rows are read across bands.
    SliderPositions Setting()
    {
        SliderPositions p;
        p[Slider::XSlice] = Uniform(0, 3) == 0 ? 1 : Uniform(1, 30);
        p[Slider::YSlice] = Uniform(0, 30);
        p[Slider::TavrinX] = Uniform(0, 1);
        p[Slider::TavrinY] = Uniform(0, 1);
        p[Slider::LockXY] = Uniform(0, 3) == 0;
        p[Slider::XPosition] = Uniform(-40, 40);
        p[Slider::YPosition] = Uniform(-40, 40);
        p[Slider::Angle] = Uniform(0, 2) == 0 ? Uniform(0, 1) * 360 : Uniform(0, 360);
        if (Uniform(0, 9) == 0)
            p[Slider::XSlice] = Uniform(-5, 40); // beyond the range: clamped
        return p;
    }

    // One pixel, a run across a slice border, a band, a part off the output,
    // or none of it.
    TRect Area(int W, int H, const SliderPositions& P)
    {
        switch (Uniform(0, 5)) {
        case 0: {
            const int x = Uniform(0, W - 1), y = Uniform(0, H - 1);
            return {x, y, x + 1, y + 1};
        }
        case 1: {
            const int slices = std::clamp(P[Slider::XSlice], 1, 30);
            const int border = (W / slices) * Uniform(1, std::max(1, slices - 1));
            const int y = Uniform(0, H - 1);
            return {border - Uniform(1, 5), y, border + Uniform(1, 5), y + Uniform(1, 70)};
        }
        case 2:
            return {Uniform(-30, -1), Uniform(-30, H + 30), Uniform(0, W + 30), Uniform(H, H + 40)};
        case 3:
            return {W + Uniform(0, 10), 0, W + 20, H};
        default: {
            const int l = Uniform(-5, W), t = Uniform(-5, H);
            return {l, t, Uniform(l, W + 5), Uniform(t, H + 5)};
        }
        }
    }

    int Side() { return Uniform(0, 3) == 0 ? Uniform(1, 9) : Uniform(10, 170); }
};

TEST_F(RegionDiff, RegionsInAnyOrderEqualTheDefiningPipeline)
{
    for (int i = 0; i < 250; ++i) {
        const int w = Side(), h = Side();
        const TWin source = test::RandomPicture(Side(), Side(), Random());
        const SliderPositions p = Setting();
        TWin full = test::RandomPicture(w, h, Random());
        TWin output = test::RandomPicture(w, h, Random());
        reference::Render(source, full, p);
        for (int r = 0; r < 6; ++r) {
            const TRect area = Area(w, h, p);
            const TWin before = output;
            RenderRegion(source, output, p, area);
            ASSERT_TRUE(ShowsInside(output, before, full, area))
                << Describe(output, p, area) << ", case " << i;
        }
    }
}

TEST_F(RegionDiff, EnsuredPartsThenCompletionEqualTheFullRender)
{
    for (int i = 0; i < 150; ++i) {
        const int w = Side(), h = Side();
        const TWin source = test::RandomPicture(w, h, Random());
        const SliderPositions p = Setting();
        TWin full = test::RandomPicture(w, h, 1);
        reference::Render(source, full, p);
        TWin output = test::RandomPicture(w, h, Random());
        TLazyOutput lazy;
        lazy.SetPositions(w, h, p);
        ASSERT_FALSE(lazy.Complete());
        for (int r = 0; r < 5; ++r) {
            const TRect area = Area(w, h, p);
            lazy.Ensure(source, output, area);
            ASSERT_TRUE(lazy.Valid(area));
            // Whole tiles are drawn: at least the area shows the render.
            for (int y = std::max(area.Top, 0); y < std::min(area.Bottom, h); ++y)
                for (int x = std::max(area.Left, 0); x < std::min(area.Right, w); ++x)
                    for (int b = 0; b < 3; ++b)
                        ASSERT_EQ(output.Row(y)[3 * x + b], full.Row(y)[3 * x + b])
                            << Describe(output, p, area) << " pixel " << x << "," << y;
        }
        const TWin before = output;
        lazy.EnsureAll(source, output);
        ASSERT_TRUE(lazy.Complete());
        ASSERT_TRUE(ShowsInside(output, before, full, TRect{0, 0, w, h}))
            << Describe(output, p, {}) << ", case " << i;
    }
}

TEST_F(RegionDiff, TilesDrawnOneByOneEqualTheFullRender)
{
    // Every tile alone, in a shuffled order, then nothing is left to complete.
    for (int i = 0; i < 40; ++i) {
        const int w = Uniform(60, 300), h = Uniform(60, 300);
        const TWin source = test::RandomPicture(Uniform(20, 300), Uniform(20, 300), Random());
        const SliderPositions p = Setting();
        TWin full(w, h);
        reference::Render(source, full, p);
        TWin output = test::RandomPicture(w, h, Random());
        const TWin initial = output;
        TLazyOutput lazy;
        lazy.SetPositions(w, h, p);
        std::vector<TRect> tiles;
        for (int y = 0; y < h; y += TLazyOutput::TileSide)
            for (int x = 0; x < w; x += TLazyOutput::TileSide)
                tiles.push_back({x, y, x + 1, y + 1}); // one pixel asks for its tile
        std::shuffle(tiles.begin(), tiles.end(), Random);
        for (const TRect& tile : tiles) {
            ASSERT_FALSE(lazy.Complete());
            lazy.Ensure(source, output, tile);
        }
        ASSERT_TRUE(lazy.Complete());
        const TWin before = output;
        lazy.EnsureAll(source, output); // nothing to do: nothing changes
        ASSERT_TRUE(ShowsInside(before, initial, full, TRect{0, 0, w, h}))
            << Describe(output, p, {}) << ", case " << i;
        ASSERT_TRUE(ShowsInside(output, before, before, TRect{}));
    }
}

TEST_F(RegionDiff, ANewSettingInvalidatesWhatWasDrawn)
{
    const TWin source = test::RandomPicture(151, 97, 3);
    const SliderPositions first{{3, 2, 1, 0, 0, 5, -7, 37}};
    const SliderPositions second{{5, 4, 0, 1, 0, -3, 2, 90}};
    TWin expectFirst(151, 97), expectSecond(151, 97);
    reference::Render(source, expectFirst, first);
    reference::Render(source, expectSecond, second);

    TWin output(151, 97);
    TLazyOutput lazy;
    lazy.SetPositions(151, 97, first);
    const TRect left{0, 0, 70, 97}, right{70, 0, 151, 97};
    lazy.Ensure(source, output, left);
    ASSERT_TRUE(ShowsInside(output, output, expectFirst, left));
    lazy.SetPositions(151, 97, second);
    EXPECT_FALSE(lazy.Valid(left));
    EXPECT_FALSE(lazy.Valid(right));
    lazy.Ensure(source, output, right);
    lazy.Ensure(source, output, left); // drawn before, for the old setting: drawn again
    EXPECT_TRUE(ShowsInside(output, output, expectSecond, TRect{0, 0, 151, 97}));

    // A load shows the source as it is, copied where asked for.
    lazy.SetAsLoaded(151, 97);
    EXPECT_FALSE(lazy.Valid(left));
    const TWin before = output;
    lazy.Ensure(source, output, left);
    EXPECT_TRUE(ShowsInside(output, before, source, TRect{0, 0, 2 * TLazyOutput::TileSide, 97}));
    lazy.EnsureAll(source, output);
    EXPECT_TRUE(ShowsInside(output, source, source, TRect{}));
}

} // namespace
} // namespace tavrin
