#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sstream>
#include <vector>

#include "Reference.h"
#include "SliceMap.h"
#include "TestImages.h"
#include "TWin.h"

namespace tavrin {
namespace {

using SliceFunction = void (*)(TWin&, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                               std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                               std::int32_t);

void Method(TWin& S, std::int32_t XSlices, std::int32_t YSlices, std::int32_t ReflectX,
            std::int32_t ReflectY, std::int32_t LockXY, std::int32_t Left, std::int32_t Top,
            std::int32_t Right, std::int32_t Bottom)
{
    S.SliceReflect(XSlices, YSlices, ReflectX, ReflectY, LockXY, Left, Top, Right, Bottom);
}

// The worked examples hold for the defining loops and for the method alike.
class SliceExamples : public ::testing::TestWithParam<SliceFunction> {
protected:
    // A position picture sliced over its whole area, as the control panel asks.
    TWin Sliced(int Width, int Height, int XSlices, int YSlices, int ReflectX, int ReflectY,
                int LockXY = 0)
    {
        TWin s = test::PositionPicture(Width, Height);
        GetParam()(s, XSlices, YSlices, ReflectX, ReflectY, LockXY, 0, 0, Width - 1, Height - 1);
        return s;
    }
};

std::vector<int> Identity(int Count)
{
    std::vector<int> v(std::size_t(Count), 0);
    for (int i = 0; i < Count; ++i)
        v[std::size_t(i)] = i;
    return v;
}

// Pixel (x, y) must be the whole input pixel (Columns[x], Rows[y]).
::testing::AssertionResult ShowsGrid(const TWin& S, const std::vector<int>& Columns,
                                     const std::vector<int>& Rows)
{
    const TWin input = test::PositionPicture(S.Width(), S.Height());
    for (int y = 0; y < S.Height(); ++y)
        for (int x = 0; x < S.Width(); ++x)
            if (test::PixelAt(S, x, y) !=
                test::PixelAt(input, Columns[std::size_t(x)], Rows[std::size_t(y)]))
                return ::testing::AssertionFailure()
                       << "pixel (" << x << ", " << y << ") shows input ("
                       << int(S.Row(y)[3 * x]) << ", " << int(S.Row(y)[3 * x + 1])
                       << "), expected (" << Columns[std::size_t(x)] << ", "
                       << Rows[std::size_t(y)] << ")";
    return ::testing::AssertionSuccess();
}

TEST_P(SliceExamples, TilingRepeatsTheBottomLeftSlice)
{
    EXPECT_TRUE(ShowsGrid(Sliced(10, 6, 2, 2, 0, 0), {0, 1, 2, 3, 4, 0, 1, 2, 3, 4},
                          {3, 4, 5, 3, 4, 5}));
    // The partial slices take the first columns and the last rows of the pattern.
    EXPECT_TRUE(ShowsGrid(Sliced(11, 7, 2, 2, 0, 0), {0, 1, 2, 3, 4, 0, 1, 2, 3, 4, 0},
                          {6, 4, 5, 6, 4, 5, 6}));
    EXPECT_TRUE(ShowsGrid(Sliced(3, 10, 1, 3, 0, 0), Identity(3), {9, 7, 8, 9, 7, 8, 9, 7, 8, 9}));
}

TEST_P(SliceExamples, ReflectingAcrossReadsTheSameFromBothEnds)
{
    const std::vector<int> rows = Identity(3);
    EXPECT_TRUE(ShowsGrid(Sliced(10, 3, 2, 1, 1, 0), {0, 1, 2, 1, 0, 0, 1, 2, 1, 0}, rows));
    EXPECT_TRUE(ShowsGrid(Sliced(11, 3, 2, 1, 1, 0), {0, 1, 2, 2, 1, 0, 1, 2, 2, 1, 0}, rows));
    EXPECT_TRUE(ShowsGrid(Sliced(10, 3, 3, 1, 1, 0), {0, 1, 1, 0, 1, 1, 0, 1, 1, 0}, rows));
    EXPECT_TRUE(ShowsGrid(Sliced(11, 3, 3, 1, 1, 0), {0, 0, 2, 0, 0, 2, 0, 0, 2, 0, 0}, rows));
    EXPECT_TRUE(ShowsGrid(Sliced(10, 3, 1, 1, 1, 0), {0, 1, 2, 3, 4, 4, 3, 2, 1, 0}, rows));
}

TEST_P(SliceExamples, ReflectingDownReadsTheSameFromBothEnds)
{
    const std::vector<int> columns = Identity(3);
    const std::vector<int> halves{9, 8, 7, 6, 5, 5, 6, 7, 8, 9};
    EXPECT_TRUE(ShowsGrid(Sliced(3, 10, 1, 1, 0, 1), columns, halves));
    EXPECT_TRUE(ShowsGrid(Sliced(3, 10, 1, 0, 0, 1), columns, halves));
    EXPECT_TRUE(ShowsGrid(Sliced(3, 10, 1, 3, 0, 1), columns, {9, 8, 8, 9, 8, 8, 9, 8, 8, 9}));
    EXPECT_TRUE(ShowsGrid(Sliced(3, 7, 1, 2, 0, 1), columns, {6, 5, 5, 6, 5, 5, 6}));
}

TEST_P(SliceExamples, LockIgnoresTheFlipsAndReflectsBothWays)
{
    for (int reflectX = 0; reflectX <= 1; ++reflectX)
        for (int reflectY = 0; reflectY <= 1; ++reflectY)
            EXPECT_TRUE(ShowsGrid(Sliced(11, 7, 2, 2, reflectX, reflectY, 1),
                                  {0, 1, 2, 2, 1, 0, 1, 2, 2, 1, 0}, {6, 5, 5, 6, 5, 5, 6}))
                << reflectX << " " << reflectY;
}

TEST_P(SliceExamples, BothFlipsWithoutLockDoNotSeparate)
{
    const TWin s = Sliced(4, 4, 2, 2, 1, 1);
    const TWin input = test::PositionPicture(4, 4);
    const int columns[4][4] = {{1, 0, 1, 0}, {0, 1, 0, 1}, {1, 0, 1, 0}, {0, 1, 0, 1}};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(test::PixelAt(s, x, y), test::PixelAt(input, columns[y][x], 3))
                << x << "," << y;
}

TEST_P(SliceExamples, TooManySlicesChangeNothing)
{
    struct Case {
        int Width, Height, XSlices, YSlices, LastFlags;
    };
    // Narrower than the slices across, shorter than the slices down, and
    // 1 x 1 slices, which change nothing only without flags.
    for (const Case c : {Case{20, 5, 30, 2, 7}, Case{9, 4, 2, 5, 7}, Case{7, 5, 1, 1, 0}}) {
        for (int flags = 0; flags <= c.LastFlags; ++flags) {
            TWin s = test::RandomPicture(c.Width, c.Height, 11);
            const TWin before = s;
            s.Probe = s.Bits + 5;
            GetParam()(s, c.XSlices, c.YSlices, flags & 1, flags >> 1 & 1, flags >> 2 & 1, 0, 0,
                       c.Width - 1, c.Height - 1);
            EXPECT_EQ(std::memcmp(s.Bits, before.Bits, s.ByteCount()), 0)
                << c.Width << " " << flags;
            if (c.XSlices != 1) {
                EXPECT_EQ(s.Probe, s.Bits + 5) << "nothing was written";
            }
        }
    }
}

TEST_P(SliceExamples, ProbeRestsOnTheLastPixelWritten)
{
    // 10 x 6 tiled: the last step spreads column 4 of row 0 to columns 4 and 9.
    TWin tiled = test::PositionPicture(10, 6);
    GetParam()(tiled, 2, 2, 0, 0, 0, 0, 0, 9, 5);
    EXPECT_EQ(tiled.Probe, tiled.Row(0) + 3 * 9);
    // 4 x 4 with both flips: column 1 of row 0 goes to row 3, at columns 3 - 1 and 3 - 3.
    TWin flipped = test::PositionPicture(4, 4);
    GetParam()(flipped, 2, 2, 1, 1, 0, 0, 0, 3, 3);
    EXPECT_EQ(flipped.Probe, flipped.Row(3) + 3 * 0);
}

INSTANTIATE_TEST_SUITE_P(DefiningLoops, SliceExamples,
                         ::testing::Values(SliceFunction(&reference::SliceReflect)));
INSTANTIATE_TEST_SUITE_P(Method, SliceExamples, ::testing::Values(SliceFunction(&Method)));

struct SliceArguments {
    int XSlices, YSlices, ReflectX, ReflectY, LockXY, Left, Top, Right, Bottom;
};

std::string Describe(const TWin& S, const SliceArguments& A)
{
    std::ostringstream out;
    out << S.Width() << "x" << S.Height() << " slices " << A.XSlices << "x" << A.YSlices
        << " flags " << A.ReflectX << A.ReflectY << A.LockXY << " rect (" << A.Left << ", "
        << A.Top << ")-(" << A.Right << ", " << A.Bottom << ")";
    return out.str();
}

// Runs both on copies of Input, with the probe parked at the same place, and
// compares every byte, the padding included, and where the probe ends.
::testing::AssertionResult SameAsDefiningLoops(const TWin& Input, const SliceArguments& A)
{
    TWin expected = Input;
    TWin actual = Input;
    const std::size_t parked = Input.ByteCount() / 2;
    expected.Probe = expected.Bits + parked;
    actual.Probe = actual.Bits + parked;
    reference::SliceReflect(expected, A.XSlices, A.YSlices, A.ReflectX, A.ReflectY, A.LockXY,
                            A.Left, A.Top, A.Right, A.Bottom);
    actual.SliceReflect(A.XSlices, A.YSlices, A.ReflectX, A.ReflectY, A.LockXY, A.Left, A.Top,
                        A.Right, A.Bottom);
    for (std::size_t i = 0; i < Input.ByteCount(); ++i)
        if (expected.Bits[i] != actual.Bits[i])
            return ::testing::AssertionFailure()
                   << Describe(Input, A) << ": byte " << i << " (row " << i / Input.Stride
                   << ") is " << int(actual.Bits[i]) << ", expected " << int(expected.Bits[i]);
    if (actual.Probe - actual.Bits != expected.Probe - expected.Bits)
        return ::testing::AssertionFailure()
               << Describe(Input, A) << ": probe at " << actual.Probe - actual.Bits << ", expected "
               << expected.Probe - expected.Bits;
    return ::testing::AssertionSuccess();
}

// Every rectangle of every short surface, in every mode: each source row,
// each residue class and each mirror pairing of rows comes up.
TEST(SliceReflectMatchesDefiningLoops, EveryRectangleOfShortSurfaces)
{
    const SliceArguments modes[] = {{2, 0, 0, 0, 0, 0, 0, 0, 0}, {2, 0, 1, 0, 0, 0, 0, 0, 0},
                                    {2, 0, 0, 1, 0, 0, 0, 0, 0}, {2, 0, 1, 1, 0, 0, 0, 0, 0},
                                    {2, 0, 0, 0, 1, 0, 0, 0, 0}};
    for (int height = 1; height <= 20; ++height) {
        const TWin input = test::RandomPicture(7, height, std::uint32_t(height));
        for (int ySlices = 0; ySlices <= height + 1; ++ySlices)
            for (int top = 0; top < height; ++top)
                for (int bottom = top; bottom < height; ++bottom)
                    for (SliceArguments a : modes) {
                        a.YSlices = ySlices;
                        a.Top = top;
                        a.Bottom = bottom;
                        a.Right = 6;
                        ASSERT_TRUE(SameAsDefiningLoops(input, a));
                    }
    }
}

int RandomSide(std::mt19937& Random)
{
    switch (Random() % 4) {
    case 0:
        return 1 + int(Random() % 3); // one to three pixels
    case 1:
        return 1 + int(Random() % 12);
    default:
        return 1 + int(Random() % 70);
    }
}

int RandomFlag(std::mt19937& Random)
{
    const int flags[] = {0, 1, 0, 1, 0, 1, 2, -1}; // any value but 1 means no
    return flags[Random() % 8];
}

// A corner within a few pixels of the surface, sometimes well outside it.
int RandomCorner(std::mt19937& Random, int Side)
{
    if (Random() % 8 == 0)
        return Random() % 2 ? -1000 : Side + 1000;
    return int(Random() % std::uint32_t(Side + 8)) - 4;
}

TEST(SliceReflectMatchesDefiningLoops, RandomSurfacesRectanglesAndCounts)
{
    std::mt19937 random(20240611);
    for (int i = 0; i < 10000; ++i) {
        const int width = RandomSide(random);
        const int height = RandomSide(random);
        const TWin input = test::RandomPicture(width, height, random());
        SliceArguments a{int(random() % 36), int(random() % 36), RandomFlag(random),
                         RandomFlag(random), RandomFlag(random), 0, 0, width - 1, height - 1};
        if (random() % 10 == 0)
            a.XSlices = -int(random() % 3); // never passed by the panel: must stay harmless
        if (random() % 10 == 0)
            a.YSlices = -int(random() % 3);
        switch (random() % 3) {
        case 0: // the panel's rectangle
            break;
        case 1: // starting at column 0, the rest anywhere and in any order
            a.Top = RandomCorner(random, height);
            a.Right = RandomCorner(random, width);
            a.Bottom = RandomCorner(random, height);
            a.Left = random() % 2 ? 0 : -3;
            break;
        default:
            a.Left = RandomCorner(random, width);
            a.Top = RandomCorner(random, height);
            a.Right = RandomCorner(random, width);
            a.Bottom = RandomCorner(random, height);
            break;
        }
        ASSERT_TRUE(SameAsDefiningLoops(input, a)) << "case " << i;
    }
}

TEST(SliceReflectMatchesDefiningLoops, LargeSurfacesInThePanelsSettings)
{
    const TWin input = test::RandomPicture(301, 203, 5);
    const SliceArguments cases[] = {
        {4, 4, 0, 0, 0, 0, 0, 300, 202},   {30, 30, 1, 1, 0, 0, 0, 300, 202},
        {30, 30, 0, 0, 1, 0, 0, 300, 202}, {7, 13, 1, 0, 0, 0, 0, 300, 202},
        {1, 30, 0, 1, 0, 0, 0, 300, 202},  {1, 1, 1, 1, 0, 0, 0, 300, 202},
        {29, 2, 1, 1, 0, 0, 0, 300, 202},  {3, 0, 1, 0, 1, 0, 0, 300, 202},
    };
    for (const SliceArguments& a : cases)
        EXPECT_TRUE(SameAsDefiningLoops(input, a));
}

// The in-place copy rewrites the rows that others show last, each from
// itself; that needs every such row to show its own template.
TEST(SliceMap, RowsThatOthersShowShowThemselves)
{
    for (int height = 1; height <= 400; height += height < 40 ? 1 : 17)
        for (int ySlices = 0; ySlices <= 31; ++ySlices)
            for (int flags = 0; flags < 4; ++flags) {
                const SliceGrid grid = MakeSliceGrid(5, height, 2, ySlices, 0, 0, 4, height - 1);
                if (!grid.Runs())
                    continue;
                const SliceMap map = MapSlices(grid, height, flags & 1, flags & 1, flags >> 1);
                for (const SliceRow& row : map.Rows) {
                    if (row.Written) {
                        ASSERT_EQ(map.Rows[std::size_t(row.From)].From, row.From)
                            << height << " " << ySlices << " " << flags;
                    }
                }
            }
}

TEST(SliceReflect, EmptySurfaceIsLeftAlone)
{
    TWin empty;
    empty.SliceReflect(2, 2, 1, 1, 0, 0, 0, 10, 10);
    reference::SliceReflect(empty, 2, 2, 1, 1, 0, 0, 0, 10, 10);
    EXPECT_EQ(empty.Probe, nullptr);
    EXPECT_TRUE(empty.Empty());
}

} // namespace
} // namespace tavrin
