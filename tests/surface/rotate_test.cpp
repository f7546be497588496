#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "PlaceTurned.h"
#include "Random.h"
#include "Reference.h"
#include "TestImages.h"
#include "TWin.h"

namespace tavrin {
namespace {

using test::PixelAt;
using test::PositionPicture;
using test::RandomPicture;
using test::SamePixels;

// The 22 arguments, starting at the control panel's fixed ones.
struct TCall {
    std::int32_t CentreX = 0, CentreY = 0;
    float Angle = 0, ScaleX = 1, ScaleY = 1, ScaleStep = 0;
    std::int32_t PivotX = 0, PivotY = 0, Level = -256, Brightness = 0;
    float Gain = 1, Saturation = 0;
    std::int32_t RedShift = 0, GreenShift = 0, BlueShift = 0, Effect = 0, Clamp = 1;
    std::int32_t MarginLeft = 0, MarginTop = 0, MarginRight = 0, MarginBottom = 0;
};

void Reference(TWin& Dest, const TWin& Source, const TCall& C)
{
    reference::RotateFrom(Dest, Source, C.CentreX, C.CentreY, C.Angle, C.ScaleX, C.ScaleY,
                          C.ScaleStep, C.PivotX, C.PivotY, C.Level, C.Brightness, C.Gain,
                          C.Saturation, C.RedShift, C.GreenShift, C.BlueShift, C.Effect, C.Clamp,
                          C.MarginLeft, C.MarginTop, C.MarginRight, C.MarginBottom);
}

void Engine(TWin& Dest, const TWin& Source, const TCall& C)
{
    Dest.RotateFrom(Source, C.CentreX, C.CentreY, C.Angle, C.ScaleX, C.ScaleY, C.ScaleStep,
                    C.PivotX, C.PivotY, C.Level, C.Brightness, C.Gain, C.Saturation, C.RedShift,
                    C.GreenShift, C.BlueShift, C.Effect, C.Clamp, C.MarginLeft, C.MarginTop,
                    C.MarginRight, C.MarginBottom);
}

TCall Placed(std::int32_t CentreX, std::int32_t CentreY, float Angle)
{
    TCall c;
    c.CentreX = CentreX;
    c.CentreY = CentreY;
    c.Angle = Angle;
    return c;
}

// The reference run over a copy of Dest.
TWin Drawn(const TWin& Dest, const TWin& Source, const TCall& C)
{
    TWin out = Dest;
    Reference(out, Source, C);
    return out;
}

bool SameBytes(const TWin& A, const TWin& B)
{
    return A.ByteCount() == B.ByteCount() && std::memcmp(A.Bits, B.Bits, A.ByteCount()) == 0;
}

void SetPixel(TWin& S, int X, int Y, std::uint32_t Rgb)
{
    std::uint8_t* p = S.Row(Y) + 3 * X;
    p[0] = std::uint8_t(Rgb);
    p[1] = std::uint8_t(Rgb >> 8);
    p[2] = std::uint8_t(Rgb >> 16);
}

// Expects Dest(x, y) = Source(Map(x, y)) where Map gives a source pixel, or
// black where it gives none.
template <typename MapFn>
void ExpectMapped(const TWin& Dest, const TWin& Source, MapFn Map)
{
    for (int y = 0; y < Dest.Height(); ++y)
        for (int x = 0; x < Dest.Width(); ++x) {
            int sx = -1, sy = -1;
            Map(x, y, sx, sy);
            const std::uint32_t want = sx < 0 ? 0u : PixelAt(Source, sx, sy);
            EXPECT_EQ(PixelAt(Dest, x, y), want) << "at (" << x << ", " << y << ")";
        }
}

// ---- The control panel's call on an 8 x 8 picture placed at (4, 4) ----

class PanelEight : public ::testing::Test {
protected:
    TWin Source = PositionPicture(8, 8);
    TWin Black = TWin(8, 8);

    TWin Turned(float Angle) { return Drawn(Black, Source, Placed(4, 4, Angle)); }

    // Angle 360: rows 1, 2, 3, 4, 4, 5, 6, 7; columns 2, 3, 4, 4, 5, 6, 7; column 7 black.
    static void Map360(int X, int Y, int& Sx, int& Sy)
    {
        if (X == 7)
            return;
        Sx = X <= 2 ? X + 2 : X + 1;
        Sy = Y <= 3 ? Y + 1 : Y;
    }
};

TEST_F(PanelEight, BelowOneDegreeIsAnExactCopy)
{
    for (float angle : {0.0f, 0.5f, -0.5f, 0.999f}) {
        SCOPED_TRACE(angle);
        EXPECT_TRUE(SamePixels(Turned(angle), Source));
    }
}

TEST_F(PanelEight, FullTurnDoublesAColumnAndARowNextToThePivot)
{
    ExpectMapped(Turned(360), Source, Map360);
}

TEST_F(PanelEight, QuarterTurn)
{
    // Source column by destination row, source row by destination column.
    const int column[7] = {6, 5, 4, 4, 3, 2, 1};
    const int row[7] = {2, 3, 4, 4, 5, 6, 7};
    ExpectMapped(Turned(90), Source, [&](int x, int y, int& sx, int& sy) {
        if (x < 7 && y < 7) {
            sx = column[y];
            sy = row[x];
        }
    });
}

TEST_F(PanelEight, HalfTurn)
{
    // Column 6 traces to source column 0, which this path never samples,
    // and row 7 to source row 0.
    const int column[6] = {5, 4, 4, 3, 2, 1};
    const int row[7] = {6, 5, 4, 4, 3, 2, 1};
    ExpectMapped(Turned(180), Source, [&](int x, int y, int& sx, int& sy) {
        if (x < 6 && y < 7) {
            sx = column[x];
            sy = row[y];
        }
    });
}

TEST_F(PanelEight, NegativeScaleXReflectsAboutTheSpan)
{
    TCall c = Placed(4, 4, 0);
    c.ScaleX = -1;
    // The angle becomes 360 and the scan runs from column 7 down to 1,
    // taking what angle 360 draws at column 7 - x.
    ExpectMapped(Drawn(Black, Source, c), Source, [](int x, int y, int& sx, int& sy) { Map360(7 - x, y, sx, sy); });
}

TEST_F(PanelEight, NegativeClampTakesTheRotatedPath)
{
    TCall c = Placed(4, 4, 0);
    c.Clamp = -1;
    ExpectMapped(Drawn(Black, Source, c), Source, Map360);
}

TEST_F(PanelEight, EngineMatchesTheReferenceOnPanelAndOtherArguments)
{
    for (float angle : {0.0f, 37.0f, 90.0f, 360.0f}) {
        TWin engine = Black;
        Engine(engine, Source, Placed(4, 4, angle));
        EXPECT_TRUE(SameBytes(engine, Turned(angle))) << angle;
    }
    TCall scaled = Placed(5, 3, 20);
    scaled.ScaleX = 1.5f;
    scaled.Level = -100;
    TWin engine = Black;
    Engine(engine, Source, scaled);
    EXPECT_TRUE(SameBytes(engine, Drawn(Black, Source, scaled)));
}

// ---- Coefficients ----

TEST(TurnCoefficients, ComputedWithPhiRoundedToSingle)
{
    const TTurn at30 = TurnCoefficients(30);
    EXPECT_EQ(at30.Sn, -32767);
    EXPECT_EQ(at30.Cs, -56755);
    const TTurn at1 = TurnCoefficients(1);
    EXPECT_EQ(at1.Sn, -1143);
    EXPECT_EQ(at1.Cs, -65526);
    const TTurn at200 = TurnCoefficients(200);
    EXPECT_EQ(at200.Sn, 22414);
    EXPECT_EQ(at200.Cs, 61583);
}

TEST(TurnCoefficients, TableAngles)
{
    const std::array<std::array<int, 3>, 9> table{{{0, 0, -65535},
                                                   {45, -46340, -46340},
                                                   {90, -65535, 0},
                                                   {135, -46340, 46340},
                                                   {180, 0, 65535},
                                                   {225, 46340, 46340},
                                                   {270, 65535, 0},
                                                   {315, 46340, -46340},
                                                   {360, 0, -65535}}};
    for (const auto& [angle, sn, cs] : table) {
        const TTurn t = TurnCoefficients(float(angle));
        EXPECT_EQ(t.Sn, sn) << angle;
        EXPECT_EQ(t.Cs, cs) << angle;
    }
    // 720.004 rounds to code 72000, which is 0 modulo 36000.
    EXPECT_EQ(TurnCoefficients(720.004f).Cs, -65535);
}

TEST(TurnCoefficients, AngleCodeRoundsTiesToEvenAndKeepsTheSign)
{
    EXPECT_EQ(AngleCode(0.125f), 12);  // 12.5
    EXPECT_EQ(AngleCode(0.375f), 38);  // 37.5
    EXPECT_EQ(AngleCode(-0.125f), -12);
    EXPECT_EQ(AngleCode(450), 9000);
    EXPECT_EQ(AngleCode(-90), -9000);
    EXPECT_EQ(AngleCode(-450), -9000);
    EXPECT_EQ(AngleCode(37.5f), 3750);
    // -90 is not in the table: phi = 90 degrees rounded up to single gives a
    // sine just below 1 and a cosine just below 0, truncated to 0.
    const TTurn minus90 = TurnCoefficients(-90);
    EXPECT_EQ(minus90.Sn, 65535);
    EXPECT_EQ(minus90.Cs, 0);
}

// ---- Placement, levels and key colour on the unrotated path ----

TEST(Unrotated, OddPictureLosesItsLastColumnAndRow)
{
    const TWin source = PositionPicture(5, 5);
    const TWin out = Drawn(TWin(5, 5), source, Placed(2, 2, 0));
    ExpectMapped(out, source, [](int x, int y, int& sx, int& sy) {
        if (x < 4 && y < 4) {
            sx = x;
            sy = y;
        }
    });
}

TEST(Unrotated, PictureHangingOffTheLeftEdge)
{
    const TWin source = PositionPicture(8, 8);
    const TWin out = Drawn(TWin(8, 8), source, Placed(1, 4, 0));
    ExpectMapped(out, source, [](int x, int y, int& sx, int& sy) {
        if (x < 5) {
            sx = x + 3;
            sy = y;
        }
    });
}

TEST(Unrotated, LevelZeroAndOutOfRangeDrawNothing)
{
    const TWin source = PositionPicture(8, 8);
    const TWin dest = RandomPicture(9, 7, 5);
    for (std::int32_t level : {0, 257, -257, 100000}) {
        TCall c = Placed(4, 4, 0);
        c.Level = level;
        EXPECT_TRUE(SameBytes(Drawn(dest, source, c), dest)) << level;
    }
}

TEST(Unrotated, KeyColourLeavesItsPixelsUnchanged)
{
    TWin source = PositionPicture(8, 8);
    const std::uint32_t key = PixelAt(source, 0, 0);
    SetPixel(source, 3, 2, key);
    SetPixel(source, 6, 5, key);
    const TWin dest = RandomPicture(8, 8, 11);

    TCall keyed = Placed(4, 4, 0);
    keyed.Level = 128;
    const TWin withKey = Drawn(dest, source, keyed);
    keyed.Level = -128;
    const TWin withoutKey = Drawn(dest, source, keyed);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const bool transparent = PixelAt(source, x, y) == key;
            EXPECT_EQ(PixelAt(withKey, x, y), transparent ? PixelAt(dest, x, y) : PixelAt(source, x, y));
            EXPECT_EQ(PixelAt(withoutKey, x, y), PixelAt(source, x, y));
        }
}

TEST(Unrotated, LevelsBlendAsTheirDecodingSays)
{
    const TWin source = RandomPicture(6, 4, 21);
    const TWin black(6, 4);
    // 64 and 192 blend by 64 with the key off and on; -64 and -192 without.
    for (std::int32_t level : {64, 192, -64, -192}) {
        TCall c = Placed(3, 2, 0);
        c.Level = level;
        const TWin out = Drawn(black, source, c);
        const bool key = level > 0;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x)
                for (int ch = 0; ch < 3; ++ch) {
                    const int value = source.Row(y)[3 * x + ch];
                    const bool transparent = key && PixelAt(source, x, y) == PixelAt(source, 0, 0);
                    EXPECT_EQ(out.Row(y)[3 * x + ch], transparent ? 0 : value / 2)
                        << level << " at " << x << "," << y;
                }
    }
}

TEST(Unrotated, MarginsCutThePictureWithoutShiftingIt)
{
    const TWin source = PositionPicture(8, 8);
    const TWin dest = RandomPicture(8, 8, 3);
    // The picture hangs 2 columns off the left edge, the margin is 3: the
    // margin cuts one more column, and column 1 shows source column 3.
    TCall c = Placed(2, 4, 0);
    c.MarginLeft = 3;
    c.MarginTop = 1;
    c.MarginBottom = 2;
    const TWin cut = Drawn(dest, source, c);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const bool drawn = x >= 1 && x < 6 && y >= 1 && y < 6;
            EXPECT_EQ(PixelAt(cut, x, y), drawn ? PixelAt(source, x + 2, y) : PixelAt(dest, x, y))
                << x << "," << y;
        }

    // Negative margins cannot reach past the picture's own edges.
    TWin wide = RandomPicture(14, 10, 4);
    TCall grown = Placed(7, 5, 0);
    grown.MarginLeft = grown.MarginTop = grown.MarginRight = grown.MarginBottom = -3;
    const TWin out = Drawn(wide, source, grown);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 14; ++x) {
            const bool drawn = x >= 3 && x < 11 && y >= 1 && y < 9;
            EXPECT_EQ(PixelAt(out, x, y), drawn ? PixelAt(source, x - 3, y - 1) : PixelAt(wide, x, y))
                << x << "," << y;
        }
}

// ---- Colour step and effects ----

TEST(ColourStep, GainBrightnessSaturationAndShifts)
{
    TWin source(2, 2);
    SetPixel(source, 1, 1, 0xC8640A); // red 200, green 100, blue 10: average 103
    TCall c = Placed(1, 1, 0);
    c.Gain = 1.5f;
    c.Brightness = 5;
    c.Saturation = 0.5f;
    c.RedShift = 2;
    c.BlueShift = 1;
    // Offsets: blue 5 + 2 - 2 = 5, green 5 - 2 - 1 = 2, red 5 + 4 - 1 = 8.
    // blue 15 + 5 - 46.5 = -26.5, green 150 + 2 - 1.5 = 150.5, red 300 + 8 + 48.5 = 356.5,
    // each truncated toward zero.
    const TWin clamped = Drawn(TWin(2, 2), source, c);
    EXPECT_EQ(PixelAt(clamped, 1, 1), 0xFF9600u);
    c.Clamp = 0;
    const TWin wrapped = Drawn(TWin(2, 2), source, c);
    EXPECT_EQ(PixelAt(wrapped, 1, 1), std::uint32_t(356 & 0xFF) << 16 | 150u << 8 | std::uint32_t(-26 & 0xFF));
}

TEST(Effects, InverseAndBlack)
{
    TWin source = PositionPicture(8, 8);
    const std::uint32_t key = PixelAt(source, 0, 0);
    SetPixel(source, 5, 6, key);
    const TWin dest = RandomPicture(8, 8, 8);

    TCall inverse = Placed(4, 4, 0);
    inverse.Effect = 3;
    const TWin inverted = Drawn(TWin(8, 8), source, inverse);
    TCall black = Placed(4, 4, 0);
    black.Effect = 4;
    black.Level = 128; // key on: the key colour's pixels stay as they were
    const TWin blackened = Drawn(dest, source, black);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            EXPECT_EQ(PixelAt(inverted, x, y), 0xFFFFFFu - PixelAt(source, x, y));
            EXPECT_EQ(PixelAt(blackened, x, y), PixelAt(source, x, y) == key ? PixelAt(dest, x, y) : 0u);
        }
}

// Effects 5 and the smear, written out over the visiting order with the
// previous colour starting at source pixel (0, 0).
TEST(Effects, PreviousColourCarriesAlongTheRows)
{
    const TWin source = RandomPicture(7, 5, 31); // 6 x 4 drawn
    for (std::int32_t effect : {5, -64, -1, -128}) {
        SCOPED_TRACE(effect);
        TCall c = Placed(3, 2, 0);
        c.Effect = effect;
        const TWin out = Drawn(TWin(6, 4), source, c);
        int previous[3] = {source.Row(0)[0], source.Row(0)[1], source.Row(0)[2]};
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x)
                for (int ch = 0; ch < 3; ++ch) {
                    const int value = source.Row(y)[3 * x + ch];
                    int want;
                    if (effect == 5)
                        want = (255 - value + previous[ch]) / 2;
                    else // weight effect + 128 of 128 on the new value, rounded down
                        want = (previous[ch] * (-effect) + value * (effect + 128)) / 128;
                    EXPECT_EQ(out.Row(y)[3 * x + ch], want) << x << "," << y;
                    previous[ch] = want;
                }
    }
}

struct TLcg {
    std::uint64_t Seed = 0;
    int Draw(int N)
    {
        Seed = (Seed * 134775813u + 1) % (std::uint64_t(1) << 32);
        return int(Seed * std::uint64_t(N) / (std::uint64_t(1) << 32));
    }
};

TEST(Effects, NoiseDrawsFromTheProgramGenerator)
{
    TWin source = PositionPicture(9, 5); // 8 x 4 drawn
    SetPixel(source, 2, 1, PixelAt(source, 0, 0));
    for (std::int32_t effect : {1, 2}) {
        SCOPED_TRACE(effect);
        TCall c = Placed(4, 2, 0);
        c.Effect = effect;
        c.Level = 128; // key on: transparent pixels draw no noise
        const TWin dest = RandomPicture(9, 5, 2);
        RandSeed = 0;
        const TWin out = Drawn(dest, source, c);
        TLcg lcg;
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 9; ++x) {
                const std::uint8_t* got = out.Row(y) + 3 * x;
                if (x == 8 || y == 4 || PixelAt(source, x, y) == PixelAt(source, 0, 0)) {
                    EXPECT_EQ(PixelAt(out, x, y), PixelAt(dest, x, y)) << x << "," << y;
                    continue;
                }
                const int grey = effect == 1 ? lcg.Draw(255) : -1;
                for (int ch = 0; ch < 3; ++ch)
                    EXPECT_EQ(got[ch], effect == 1 ? grey : lcg.Draw(255)) << x << "," << y;
            }
        EXPECT_EQ(RandSeed, lcg.Seed);
    }
    RandSeed = 0;
}

TEST(Effects, ActOnTheRotatedPathToo)
{
    const TWin source = PositionPicture(8, 8); // no pixel is black
    TCall c = Placed(4, 4, 90);
    const TWin plain = Drawn(TWin(8, 8), source, c);
    c.Effect = 3;
    const TWin inverted = Drawn(TWin(8, 8), source, c);
    int drawn = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const std::uint32_t p = PixelAt(plain, x, y);
            drawn += p != 0;
            EXPECT_EQ(PixelAt(inverted, x, y), p == 0 ? 0u : 0xFFFFFFu - p) << x << "," << y;
        }
    EXPECT_EQ(drawn, 49);
}

// ---- The rotated path's scans, scale step and trace cache ----

// The rotated path with a scale step, on one destination column. At 180
// degrees (Sn 0, Cs 65535) the trace is rx = f(dx) + px, ry = f(dy) + py with
// f(d) = d - 1 for d >= 1 and d for d <= 0: rows with dy = 1 and dy = 0 trace
// to the same position. The scales are 1 on row 2 and 1.125 on row 3.
TEST(Rotated, TraceCacheCarriesTheColourIntoTheNextRow)
{
    TWin source(2, 2);
    SetPixel(source, 0, 0, 0x102030);
    SetPixel(source, 1, 1, 0x405060);
    TCall c = Placed(4, 4, 180);
    c.ScaleStep = 6250; // a step of 0.125
    c.MarginLeft = 2;   // column 2 alone: dx = 0, rx = 1
    c.MarginRight = 4;
    c.MarginTop = 2;    // rows 2 and 3
    c.MarginBottom = 4;
    const TWin dest = RandomPicture(8, 8, 17);
    const TWin out = Drawn(dest, source, c);
    // Row 2 reads (1 / 1, 1 / 1); row 3 traces to the same (1, 1), where
    // the scale 1.125 would read source pixel (0, 0), and reuses (1, 1).
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const bool drawn = x == 2 && (y == 2 || y == 3);
            EXPECT_EQ(PixelAt(out, x, y), drawn ? 0x405060u : PixelAt(dest, x, y)) << x << "," << y;
        }

    // Row 3 alone, with the same scale 1.125 and nothing cached: pixel (0, 0).
    c.MarginTop = 3;
    c.ScaleX = c.ScaleY = 1.125f;
    const TWin alone = Drawn(dest, source, c);
    EXPECT_EQ(PixelAt(alone, 2, 3), 0x102030u);
    EXPECT_EQ(PixelAt(alone, 2, 2), PixelAt(dest, 2, 2));
}

TEST(Rotated, ReflectionsTurnTheAngle)
{
    const TWin source = RandomPicture(9, 7, 47);
    const TWin black(11, 10);
    for (float angle : {30.0f, 37.0f, 100.0f, 271.0f}) {
        SCOPED_TRACE(angle);
        // Both scales negative: no reflection, the angle plus 180.
        TCall both = Placed(5, 5, angle);
        both.ScaleX = both.ScaleY = -1;
        EXPECT_TRUE(SameBytes(Drawn(black, source, both), Drawn(black, source, Placed(5, 5, angle + 180))));
        // ScaleX alone: 360 - angle, scanned from the right, so column x shows
        // what that angle draws at column 10 - x (columns 0 and 10 unvisited).
        TCall mirrored = Placed(5, 5, angle);
        mirrored.ScaleX = -1;
        const TWin reflected = Drawn(black, source, mirrored);
        const TWin plain = Drawn(black, source, Placed(5, 5, 360 - angle));
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 11; ++x)
                EXPECT_EQ(PixelAt(reflected, x, y), PixelAt(plain, 10 - x, y)) << x << "," << y;
    }
}

TEST(Rotated, KeyColourAppliesToTracedPixels)
{
    TWin source = PositionPicture(9, 8);
    const std::uint32_t key = PixelAt(source, 0, 0);
    SetPixel(source, 4, 3, key);
    SetPixel(source, 6, 6, key);
    const TWin dest = RandomPicture(12, 11, 48);
    TCall c = Placed(6, 5, 90);
    const TWin opaque = Drawn(dest, source, c);
    c.Level = 256; // key on, whole destination
    const TWin keyed = Drawn(dest, source, c);
    int transparent = 0;
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 12; ++x) {
            const bool keyPixel = PixelAt(opaque, x, y) == key && PixelAt(dest, x, y) != key;
            transparent += keyPixel;
            EXPECT_EQ(PixelAt(keyed, x, y), keyPixel ? PixelAt(dest, x, y) : PixelAt(opaque, x, y)) << x << "," << y;
        }
    EXPECT_GE(transparent, 2);
}

// The box scan is the whole scan cut to the box, where every pixel's value
// is independent of the others (constant scale).
void ExpectBoxCut(const TWin& Source, const TWin& Dest, TCall Box, int Xs, int Xe, int Ys, int Ye)
{
    const TWin cut = Drawn(Dest, Source, Box);
    TCall whole = Box;
    whole.Level = Box.Level - 128;
    const TWin full = Drawn(Dest, Source, whole);
    int outsideDrawn = 0;
    for (int y = 0; y < Dest.Height(); ++y)
        for (int x = 0; x < Dest.Width(); ++x) {
            const bool inBox = x >= Xs && x < Xe && y >= Ys && y <= Ye;
            EXPECT_EQ(PixelAt(cut, x, y), inBox ? PixelAt(full, x, y) : PixelAt(Dest, x, y)) << x << "," << y;
            outsideDrawn += !inBox && PixelAt(full, x, y) != PixelAt(Dest, x, y);
        }
    EXPECT_GT(outsideDrawn, 0) << "the box cuts nothing here";
}

TEST(Rotated, BoxScanOfAnyAngleUses137)
{
    // hw = hh = 200: m = 203, ex = ey = Trunc(1.37 x 203) = 278, which cuts
    // the corners of the picture turned by 45 degrees.
    const TWin source = RandomPicture(401, 400, 41);
    const TWin dest = RandomPicture(700, 690, 42);
    TCall c = Placed(350, 340, 45);
    c.Level = -100;
    ExpectBoxCut(source, dest, c, 350 - 278 - 1, 350 + 278, 340 - 278, 340 + 278);
}

TEST(Rotated, BoxScanOfAQuarterTurnSwapsTheHalfSizes)
{
    // hw = 6, hh = 3: at 90 degrees ex = 3 + 1 and ey = 6 + 1. The picture
    // overlaps the box's left edge by the doubled column.
    const TWin source = RandomPicture(13, 7, 43);
    const TWin dest = RandomPicture(30, 25, 44);
    TCall c = Placed(15, 12, 90);
    c.Level = -128;
    ExpectBoxCut(source, dest, c, 15 - 4 - 1, 15 + 4, 12 - 7, 12 + 7);
}

TEST(Rotated, WholeScanMarginsStayInsideTheDestination)
{
    const TWin source = RandomPicture(9, 8, 45);
    const TWin dest = RandomPicture(11, 10, 46);
    TCall c = Placed(5, 5, 30);
    const TWin plain = Drawn(dest, source, c);
    c.MarginLeft = c.MarginTop = -1000;
    c.MarginRight = c.MarginBottom = std::numeric_limits<std::int32_t>::min();
    EXPECT_TRUE(SameBytes(Drawn(dest, source, c), plain));
}

// ---- The fast path against the reference ----

// Everything inside the clip as the reference draws it (on black with
// OnBlack), every other byte as it was.
TWin Expected(const TWin& Dest, const TWin& Source, const TCall& C, const TRect& Clip, bool OnBlack)
{
    TWin background = Dest;
    if (OnBlack)
        background.FillRect(0, 0, Dest.Width() - 1, Dest.Height() - 1, 0, 0, 0, 128);
    const TWin drawn = Drawn(background, Source, C);
    TWin out = Dest;
    for (int y = std::max(Clip.Top, 0); y < std::min(Clip.Bottom, Dest.Height()); ++y)
        for (int x = std::max(Clip.Left, 0); x < std::min(Clip.Right, Dest.Width()); ++x)
            std::memcpy(out.Row(y) + 3 * x, drawn.Row(y) + 3 * x, 3);
    return out;
}

class PlaceTurnedDiff : public ::testing::Test {
protected:
    std::mt19937 Random{2024};

    int Uniform(int Low, int High) { return std::uniform_int_distribution<int>(Low, High)(Random); }

    int Side()
    {
        static const int sides[] = {1, 1, 2, 3, 4, 5, 8, 13, 16, 31, 64, 65, 97};
        return Uniform(0, 4) == 0 ? Uniform(1, 150) : sides[Uniform(0, 12)];
    }

    // The picture's centre near the destination's middle, partly or wholly
    // off it, or far enough away for the trace to wrap.
    int Centre(int Size)
    {
        switch (Uniform(0, 5)) {
        case 0:
            return Uniform(-Size - 200, 2 * Size + 200);
        case 1:
            return Uniform(-70000, 70000);
        case 2:
            return Uniform(0, 1) ? std::numeric_limits<std::int32_t>::max() - Uniform(0, 50)
                                 : std::numeric_limits<std::int32_t>::min() + Uniform(0, 50);
        default:
            return Size / 2 + Uniform(-Size / 2 - 2, Size / 2 + 2);
        }
    }

    TRect Clip(int W, int H)
    {
        if (Uniform(0, 2) == 0)
            return {0, 0, W, H};
        const int l = Uniform(-3, W), t = Uniform(-3, H);
        return {l, t, Uniform(l, W + 3), Uniform(t, H + 3)};
    }

    void Check(float Angle)
    {
        const TWin source = RandomPicture(Side(), Side(), Random());
        const int w = Side(), h = Side();
        const TWin dest = RandomPicture(w, h, Random());
        const TCall c = Placed(Centre(w), Centre(h), Angle);
        const TRect clip = Clip(w, h);
        for (bool onBlack : {false, true}) {
            TWin fast = dest;
            (onBlack ? PlaceTurnedOnBlack : PlaceTurned)(source, fast, c.CentreX, c.CentreY, Angle, clip);
            const TWin want = Expected(dest, source, c, clip, onBlack);
            ASSERT_TRUE(SameBytes(fast, want))
                << SamePixels(fast, want).message() << "\nangle " << Angle << " source "
                << source.Width() << "x" << source.Height() << " dest " << w << "x" << h
                << " centre " << c.CentreX << "," << c.CentreY << " clip " << clip.Left << ","
                << clip.Top << "-" << clip.Right << "," << clip.Bottom << " on black " << onBlack;
        }
        CheckArea(source, dest, c, clip, Angle);
    }

    // Drawn into memory that holds only the clip, the clip's pixels are
    // those of the whole destination drawn on black.
    void CheckArea(const TWin& Source, const TWin& Dest, const TCall& C, const TRect& Clip, float Angle)
    {
        if (Clip.Left >= Clip.Right || Clip.Top >= Clip.Bottom)
            return;
        const int w = Clip.Right - Clip.Left, h = Clip.Bottom - Clip.Top;
        const std::size_t stride = 3 * std::size_t(w) + 5; // a gap after each row
        std::vector<std::uint8_t> memory(stride * std::size_t(h), 0x5a);
        PlaceTurnedOnBlackArea(Source, TDestArea{memory.data(), stride, Dest.Width(), Dest.Height(), Clip},
                               C.CentreX, C.CentreY, Angle);
        const TWin want = Expected(Dest, Source, C, Clip, true);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int dx = Clip.Left + x, dy = Clip.Top + y;
                const std::uint8_t* got = memory.data() + std::size_t(y) * stride + 3 * std::size_t(x);
                const bool inside = dx >= 0 && dy >= 0 && dx < Dest.Width() && dy < Dest.Height();
                for (int b = 0; b < 3; ++b)
                    ASSERT_EQ(got[b], inside ? want.Row(dy)[3 * dx + b] : 0x5a)
                        << "area pixel " << dx << "," << dy << " angle " << Angle << " clip " << Clip.Left
                        << "," << Clip.Top << "-" << Clip.Right << "," << Clip.Bottom;
            }
        for (int y = 0; y < h; ++y)
            for (std::size_t b = 3 * std::size_t(w); b < stride; ++b)
                ASSERT_EQ(memory[std::size_t(y) * stride + b], 0x5a) << "gap of row " << y;
    }
};

TEST_F(PlaceTurnedDiff, EveryWholeAngle)
{
    for (int angle = 0; angle <= 360; ++angle)
        for (int i = 0; i < 4; ++i)
            Check(float(angle));
}

TEST_F(PlaceTurnedDiff, FractionalAndOutOfRangeAngles)
{
    for (float angle : {0.25f, -0.75f, 0.999f, 1.0f, -1.0f, 1.5f, 37.25f, 44.995f, 89.99f, 90.004f,
                        -45.0f, -90.0f, -200.5f, 359.99f, 400.0f, 720.0f, 1e7f, -3e9f})
        for (int i = 0; i < 12; ++i)
            Check(angle);
    for (int i = 0; i < 300; ++i)
        Check(std::uniform_real_distribution<float>(-720, 720)(Random));
}

// Larger pictures so that whole tiles lie inside the picture.
TEST_F(PlaceTurnedDiff, LargePicturesAtEveryTenthDegree)
{
    const TWin source = RandomPicture(301, 257, 5);
    const TWin dest = RandomPicture(333, 280, 6);
    for (int angle = 0; angle <= 360; angle += 10)
        for (const auto& [cx, cy] : {std::pair{150, 128}, std::pair{40, 250}, std::pair{-100, 20}}) {
            const TRect clip = angle % 20 ? TRect{0, 0, 333, 280} : TRect{17, 70, 301, 211};
            TWin fast = dest;
            PlaceTurned(source, fast, cx, cy, float(angle), clip);
            ASSERT_TRUE(SameBytes(fast, Expected(dest, source, Placed(cx, cy, float(angle)), clip, false)))
                << angle << " at " << cx << "," << cy;
            TWin black = dest;
            PlaceTurnedOnBlack(source, black, cx, cy, float(angle), clip);
            ASSERT_TRUE(SameBytes(black, Expected(dest, source, Placed(cx, cy, float(angle)), clip, true)))
                << angle << " at " << cx << "," << cy;
        }
}

// A source without row padding, turned by 180 degrees so that a tile wholly
// inside the picture (the clip starts it at column 30, row 34) reads the
// last pixel of the pixel memory: the fast copy must not read past it.
TEST(PlaceTurned, LastPixelOfAnUnpaddedSource)
{
    const TWin source = RandomPicture(256, 130, 9);
    ASSERT_EQ(source.Stride, 3u * 256);
    const TWin dest = RandomPicture(320, 200, 10);
    const TRect clip{30, 34, 320, 200};
    TWin fast = dest;
    PlaceTurned(source, fast, 160, 100, 180, clip);
    EXPECT_EQ(PixelAt(fast, 30, 34), PixelAt(source, 255, 129));
    EXPECT_TRUE(SameBytes(fast, Expected(dest, source, Placed(160, 100, 180), clip, false)));
}

TEST(PlaceTurned, EmptyClipOrSourceDrawsNothing)
{
    const TWin source = RandomPicture(9, 9, 7);
    const TWin dest = RandomPicture(10, 10, 8);
    TWin out = dest;
    PlaceTurned(source, out, 5, 5, 37, TRect{4, 4, 4, 9});
    PlaceTurnedOnBlack(source, out, 5, 5, 37, TRect{12, 0, 20, 10});
    PlaceTurned(TWin(), out, 5, 5, 37, TRect{0, 0, 10, 10});
    EXPECT_TRUE(SameBytes(out, dest));
    PlaceTurnedOnBlack(TWin(), out, 5, 5, 37, TRect{0, 0, 10, 10});
    EXPECT_TRUE(SamePixels(out, TWin(10, 10)));
}

} // namespace
} // namespace tavrin
