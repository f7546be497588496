// What each slider does to a picture, with the expected pixels worked out by
// hand from where the user sees the picture go, not from the render's own
// arithmetic: the other render tests compare two pipelines that share the
// mapping from sliders to render arguments, so a fault there passes them.
#include <gtest/gtest.h>

#include <vector>

#include "Render.h"
#include "SliderSettings.h"
#include "TestImages.h"
#include "TWin.h"

namespace tavrin {
namespace {

using test::With;

constexpr int Black = -1;

// Column x says itself in blue and row y in green; red is constant and no
// pixel is black, so every output pixel names the source pixel it shows.
TWin Grid(int Width, int Height)
{
    TWin s(Width, Height);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            std::uint8_t* p = s.Row(y) + 3 * x;
            p[0] = std::uint8_t(16 + 20 * x);
            p[1] = std::uint8_t(16 + 20 * y);
            p[2] = 0x5A;
        }
    return s;
}

// The colour of source pixel (X, Y) of the grid, or black.
std::uint32_t GridColour(int X, int Y)
{
    if (X == Black || Y == Black)
        return 0;
    return 0x5A0000u | std::uint32_t(16 + 20 * Y) << 8 | std::uint32_t(16 + 20 * X);
}

TWin Rendered(const TWin& Source, const SliderPositions& P)
{
    TWin output = test::RandomPicture(Source.Width(), Source.Height(), 5);
    Render(Source, output, P);
    return output;
}

// Output pixel (x, y) shows source column Columns[x] of source row Rows[y].
::testing::AssertionResult Shows(const TWin& Output, const std::vector<int>& Columns,
                                 const std::vector<int>& Rows)
{
    if (Output.Width() != int(Columns.size()) || Output.Height() != int(Rows.size()))
        return ::testing::AssertionFailure() << "unexpected size";
    for (int y = 0; y < Output.Height(); ++y)
        for (int x = 0; x < Output.Width(); ++x)
            if (test::PixelAt(Output, x, y) != GridColour(Columns[x], Rows[y]))
                return ::testing::AssertionFailure()
                       << "pixel (" << x << ", " << y << ") is " << std::hex
                       << test::PixelAt(Output, x, y) << ", expected "
                       << GridColour(Columns[x], Rows[y]);
    return ::testing::AssertionSuccess();
}

// An unturned picture of odd size: its last column and row are never drawn.
const std::vector<int> Rows7{0, 1, 2, 3, 4, 5, Black};

TEST(SliderEffects, XPositionMovesThePictureRightLeavingBlackColumns)
{
    const TWin source = Grid(9, 7);
    EXPECT_TRUE(Shows(Rendered(source, With({{Slider::XPosition, 3}})),
                      {Black, Black, Black, 0, 1, 2, 3, 4, 5}, Rows7));
    EXPECT_TRUE(Shows(Rendered(source, With({{Slider::XPosition, 1}})),
                      {Black, 0, 1, 2, 3, 4, 5, 6, 7}, Rows7));
    EXPECT_TRUE(Shows(Rendered(source, With({{Slider::XPosition, -2}})),
                      {2, 3, 4, 5, 6, 7, Black, Black, Black}, Rows7));
}

TEST(SliderEffects, YPositionMovesThePictureDownLeavingBlackRows)
{
    const TWin source = Grid(9, 7);
    const std::vector<int> columns{0, 1, 2, 3, 4, 5, 6, 7, Black};
    EXPECT_TRUE(Shows(Rendered(source, With({{Slider::YPosition, 2}})), columns,
                      {Black, Black, 0, 1, 2, 3, 4}));
    EXPECT_TRUE(Shows(Rendered(source, With({{Slider::YPosition, -1}})), columns,
                      {1, 2, 3, 4, 5, Black, Black}));
    EXPECT_TRUE(Shows(Rendered(source, With({{Slider::XPosition, 2}, {Slider::YPosition, 1}})),
                      {Black, Black, 0, 1, 2, 3, 4, 5, 6}, {Black, 0, 1, 2, 3, 4, 5}));
}

TEST(SliderEffects, TwoSlicesAcrossTiledThenMirrored)
{
    const SliderPositions tiled = With({{Slider::XSlice, 2}});
    const SliderPositions mirrored = With({{Slider::XSlice, 2}, {Slider::TavrinX, 1}});
    // An even width is drawn whole.
    const std::vector<int> rows6{0, 1, 2, 3, 4, 5};
    EXPECT_TRUE(Shows(Rendered(Grid(10, 6), tiled), {0, 1, 2, 3, 4, 0, 1, 2, 3, 4}, rows6));
    EXPECT_TRUE(Shows(Rendered(Grid(10, 6), mirrored), {0, 1, 2, 1, 0, 0, 1, 2, 1, 0}, rows6));
    // An odd width leaves a partial slice at the right, which starts the pattern again.
    EXPECT_TRUE(Shows(Rendered(Grid(11, 7), tiled), {0, 1, 2, 3, 4, 0, 1, 2, 3, 4, 0}, Rows7));
    EXPECT_TRUE(
        Shows(Rendered(Grid(11, 7), mirrored), {0, 1, 2, 2, 1, 0, 1, 2, 2, 1, 0}, Rows7));
}

TEST(SliderEffects, AngleNinetyTurnsAsTheWorkedExample)
{
    const TWin output = Rendered(Grid(8, 8), With({{Slider::Angle, 90}}));
    // Row 4 shows source column 3, from source row 2 down to row 7, row 4 twice.
    const int rowsOfColumn3[] = {2, 3, 4, 4, 5, 6, 7};
    for (int x = 0; x < 7; ++x)
        EXPECT_EQ(test::PixelAt(output, x, 4), GridColour(3, rowsOfColumn3[x])) << "x " << x;
    // Column 4 shows source row 5, from source column 6 back to column 1, column 4 twice.
    const int columnsOfRow5[] = {6, 5, 4, 4, 3, 2, 1};
    for (int y = 0; y < 7; ++y)
        EXPECT_EQ(test::PixelAt(output, 4, y), GridColour(columnsOfRow5[y], 5)) << "y " << y;
    EXPECT_EQ(test::PixelAt(output, 4, 7), 0u);
    EXPECT_EQ(test::PixelAt(output, 7, 4), 0u); // the last column is not visited
}

} // namespace
} // namespace tavrin
