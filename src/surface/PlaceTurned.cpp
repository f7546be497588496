// The control panel's call of the transform: unscaled, opaque, colours
// unchanged, so each drawn pixel is a copy of the source pixel its trace
// reaches. With a constant scale the trace cache cannot change a result, so
// the pixels may be visited in any order: the rotated path walks the
// destination in tiles, which keeps the diagonal source reads in cache, and
// copies whole tiles without a bounds test where the picture covers them.
#include "PlaceTurned.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

// On x86-64 with GCC or Clang: AVX2 gathers, used when the processor has
// them, and prefetch instructions.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TAVRIN_X86 1
#include <immintrin.h>
#endif

namespace tavrin {
namespace {

// 64 x 64 destination pixels read at most about 90 x 90 source pixels, which
// stay in the cache together with the tile's rows.
constexpr std::int32_t TileSide = 64;

void Blacken(const TDestArea& Dest, std::int32_t Y, std::int32_t Left, std::int32_t Right)
{
    if (Left < Right)
        std::memset(Dest.At(Left, Y), 0, 3 * std::size_t(Right - Left));
}

// The unrotated path: the covered rectangle is a row copy of the source.
template <bool OnBlack>
void PlaceUnrotated(const TWin& Source, const TDestArea& Dest, std::int32_t CentreX, std::int32_t CentreY,
                    const TRect& Clip)
{
    const std::int64_t left = std::int64_t(CentreX) - Source.Width() / 2;
    const std::int64_t top = std::int64_t(CentreY) - Source.Height() / 2;
    // Of an odd-sized source the last column and row are not drawn.
    const std::int64_t right = left + 2 * (Source.Width() / 2);
    const std::int64_t bottom = top + 2 * (Source.Height() / 2);
    const auto x0 = std::int32_t(std::max<std::int64_t>(left, Clip.Left));
    const auto x1 = std::int32_t(std::min<std::int64_t>(right, Clip.Right));
    for (std::int32_t y = Clip.Top; y < Clip.Bottom; ++y) {
        if (y < top || y >= bottom || x0 >= x1) {
            if constexpr (OnBlack)
                Blacken(Dest, y, Clip.Left, Clip.Right);
            continue;
        }
        if constexpr (OnBlack) {
            Blacken(Dest, y, Clip.Left, x0);
            Blacken(Dest, y, x1, Clip.Right);
        }
        std::memcpy(Dest.At(x0, y), Source.Row(std::int32_t(y - top)) + 3 * (x0 - left),
                    3 * std::size_t(x1 - x0));
    }
}

// The rotated trace with scale 1 and no pivot offset. Its 16.16 terms at
// (x, y) are U = dx Cs - dy Sn and V = dx Sn + dy Cs with dx = CentreX - 2 - x
// and dy = CentreY - 1 - y, in 32-bit wrap-around; a step to the right
// subtracts Cs from U and Sn from V, a step down adds Sn to U and subtracts Cs
// from V, which wraps exactly as the products do.
struct TTrace {
    std::int64_t CentreX, CentreY;
    std::int64_t Sn, Cs;
    std::int32_t Hw, Hh, Ws, Hs;

    std::uint32_t U(std::int64_t X, std::int64_t Y) const
    {
        return std::uint32_t(CentreX - 2 - X) * std::uint32_t(Cs) - std::uint32_t(CentreY - 1 - Y) * std::uint32_t(Sn);
    }
    std::uint32_t V(std::int64_t X, std::int64_t Y) const
    {
        return std::uint32_t(CentreX - 2 - X) * std::uint32_t(Sn) + std::uint32_t(CentreY - 1 - Y) * std::uint32_t(Cs);
    }
};

enum class TCover { Inside, Outside, Mixed, None };

// A tile [X0, X1) x [Y0, Y1) of the destination and how the picture covers
// it; where the trace does not wrap, the source rectangle it reads.
struct TTile {
    std::int32_t X0 = 0, X1 = 0, Y0 = 0, Y1 = 0;
    TCover Cover = TCover::None;
    bool Wraps = false;
    std::int64_t MinRx = 0, MaxRx = 0, MinRy = 0, MaxRy = 0;
};

// The terms are affine in x and y, so over the tile they lie between their
// corner values: when no corner leaves the 32-bit range nothing inside
// wraps, and the traced positions lie between the corners' too.
TTile Survey(const TTrace& T, std::int32_t X0, std::int32_t X1, std::int32_t Y0, std::int32_t Y1)
{
    constexpr std::int64_t low = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t high = std::numeric_limits<std::int32_t>::max();
    TTile tile{X0, X1, Y0, Y1, TCover::Mixed, false, high, low, high, low};
    for (const std::int64_t x : {X0, X1 - 1})
        for (const std::int64_t y : {Y0, Y1 - 1}) {
            const std::int64_t dx = T.CentreX - 2 - x;
            const std::int64_t dy = T.CentreY - 1 - y;
            const std::int64_t u = dx * T.Cs - dy * T.Sn;
            const std::int64_t v = dx * T.Sn + dy * T.Cs;
            if (u < low || u > high || v < low || v > high) {
                tile.Wraps = true;
                return tile;
            }
            tile.MinRx = std::min(tile.MinRx, (u >> 16) + T.Hw);
            tile.MaxRx = std::max(tile.MaxRx, (u >> 16) + T.Hw);
            tile.MinRy = std::min(tile.MinRy, (v >> 16) + T.Hh);
            tile.MaxRy = std::max(tile.MaxRy, (v >> 16) + T.Hh);
        }
    if (tile.MinRx >= 1 && tile.MaxRx < T.Ws && tile.MinRy >= 1 && tile.MaxRy < T.Hs)
        tile.Cover = TCover::Inside;
    else if (tile.MaxRx < 1 || tile.MinRx >= T.Ws || tile.MaxRy < 1 || tile.MinRy >= T.Hs)
        tile.Cover = TCover::Outside;
    return tile;
}

// Asks the memory for the cache lines of Bytes bytes from P. On x86-64 the
// prefetch is an asm statement because GCC drops prefetch builtins in loops
// that do nothing else.
void PrefetchLines(const std::uint8_t* P, std::int32_t Bytes)
{
    constexpr std::int32_t line = 64;
    for (std::int32_t b = 0; b < Bytes + line - 1; b += line) {
        const std::uint8_t* p = P + std::min(b, Bytes - 1);
#ifdef TAVRIN_X86
        asm volatile("prefetcht0 %0" : : "m"(*p));
#elif defined(__GNUC__) || defined(__clang__)
        __builtin_prefetch(p);
#endif
    }
}

// Large pictures do not fit in the cache, and the diagonal reads defeat the
// hardware's prefetching: while one tile is drawn, each of its rows asks for
// a share of the next tile's source rectangle and for the next tile's row.
class TPrefetch {
public:
    TPrefetch(const TWin& Source, const TDestArea& Dest, const TTile& Next, std::int32_t Rows)
        : Output(Dest), Next(Next)
    {
        if (Next.Cover == TCover::None || Next.Cover == TCover::Outside || Next.Wraps)
            return;
        const std::int64_t top = std::max<std::int64_t>(Next.MinRy, 0);
        const std::int64_t bottom = std::min<std::int64_t>(Next.MaxRy, Source.Height() - 1);
        const std::int64_t left = std::max<std::int64_t>(Next.MinRx, 0);
        const std::int64_t right = std::min<std::int64_t>(Next.MaxRx, Source.Width() - 1);
        if (top > bottom || left > right)
            return;
        First = Source.Row(std::int32_t(top)) + 3 * left;
        Stride = Source.Stride;
        SourceRows = std::int32_t(bottom - top + 1);
        RowBytes = std::int32_t(3 * (right - left + 1));
        PerRow = (SourceRows + Rows - 1) / Rows;
    }

    // The share of row I of the current tile.
    void Row(std::int32_t I) const
    {
        for (std::int32_t r = I * PerRow; r < std::min(SourceRows, (I + 1) * PerRow); ++r)
            PrefetchLines(First + r * Stride, RowBytes);
        if (Next.Cover != TCover::None && Next.Y0 + I < Next.Y1)
            PrefetchLines(Output.At(Next.X0, Next.Y0 + I), 3 * (Next.X1 - Next.X0));
    }

private:
    const TDestArea& Output;
    TTile Next;
    const std::uint8_t* First = nullptr;
    std::ptrdiff_t Stride = 0;
    std::int32_t SourceRows = 0, RowBytes = 0, PerRow = 0;
};

inline void CopyPixel(std::uint8_t* Out, const std::uint8_t* In)
{
    Out[0] = In[0];
    Out[1] = In[1];
    Out[2] = In[2];
}

#ifdef TAVRIN_X86
bool CanGather()
{
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}

// Copies the first pixels of a run of N, eight at a time, and returns how
// many. Each pixel is gathered as 4 bytes, so the caller makes sure that the
// byte after every source pixel is in the buffer. U and V are the terms of
// the first pixel, which do not wrap along the run.
__attribute__((target("avx2"))) std::int32_t GatherRun(std::uint8_t* Out, std::int32_t N, std::int32_t U,
                                                       std::int32_t V, std::int32_t Cs, std::int32_t Sn,
                                                       const std::uint8_t* Pivot, std::int32_t Stride)
{
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m256i u = _mm256_sub_epi32(_mm256_set1_epi32(U), _mm256_mullo_epi32(lane, _mm256_set1_epi32(Cs)));
    __m256i v = _mm256_sub_epi32(_mm256_set1_epi32(V), _mm256_mullo_epi32(lane, _mm256_set1_epi32(Sn)));
    const __m256i stepU = _mm256_set1_epi32(Cs * 8);
    const __m256i stepV = _mm256_set1_epi32(Sn * 8);
    const __m256i stride = _mm256_set1_epi32(Stride);
    // Blue, green, red of four pixels to the first 12 bytes of each half.
    const __m256i pack = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1, 2, 4,
                                          5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    std::int32_t done = 0;
    for (; done + 8 <= N; done += 8, Out += 24) {
        // Fits in 32 bits: the source has at most 32767 rows of 98304 bytes,
        // and the pivot lies in its middle.
        const __m256i rx = _mm256_srai_epi32(u, 16);
        const __m256i offset = _mm256_add_epi32(_mm256_mullo_epi32(_mm256_srai_epi32(v, 16), stride),
                                                _mm256_add_epi32(rx, _mm256_add_epi32(rx, rx)));
        const __m256i pixels = _mm256_shuffle_epi8(
            _mm256_i32gather_epi32(reinterpret_cast<const int*>(Pivot), offset, 1), pack);
        // 16 bytes, of which the second half's 12 then replace the last 4.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(Out), _mm256_castsi256_si128(pixels));
        const __m128i high = _mm256_extracti128_si256(pixels, 1);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(Out + 12), high);
        const std::int32_t last = _mm_extract_epi32(high, 2);
        std::memcpy(Out + 20, &last, 4);
        u = _mm256_sub_epi32(u, stepU);
        v = _mm256_sub_epi32(v, stepV);
    }
    return done;
}
#endif

// Every pixel of the tile traces into the source: no bounds test.
void CopyTile(const TTrace& T, const TWin& Source, const TDestArea& Dest, const TTile& Tile, const TPrefetch& Prefetch)
{
    const std::uint8_t* pivot = Source.Row(T.Hh) + 3 * std::size_t(T.Hw);
    const std::ptrdiff_t stride = Source.Stride;
    const auto sn = std::uint32_t(T.Sn);
    const auto cs = std::uint32_t(T.Cs);
    const std::int32_t width = Tile.X1 - Tile.X0;
#ifdef TAVRIN_X86
    // The gather's fourth byte of a pixel lies outside the pixel memory only
    // after the last pixel of an unpadded last row.
    const bool gather = CanGather() && (Tile.MaxRy < T.Hs - 1 || Source.Stride > 3 * std::uint32_t(T.Ws));
#endif
    std::uint32_t rowU = T.U(Tile.X0, Tile.Y0);
    std::uint32_t rowV = T.V(Tile.X0, Tile.Y0);
    for (std::int32_t y = Tile.Y0; y < Tile.Y1; ++y, rowU += sn, rowV -= cs) {
        Prefetch.Row(y - Tile.Y0);
        std::uint8_t* out = Dest.At(Tile.X0, y);
        std::uint32_t u = rowU, v = rowV;
        std::int32_t done = 0;
#ifdef TAVRIN_X86
        if (gather) {
            done = GatherRun(out, width, std::int32_t(u), std::int32_t(v), std::int32_t(cs), std::int32_t(sn),
                             pivot, std::int32_t(stride));
            out += 3 * std::size_t(done);
            u -= std::uint32_t(done) * cs;
            v -= std::uint32_t(done) * sn;
        }
#endif
        for (; done < width; ++done, out += 3, u -= cs, v -= sn)
            CopyPixel(out, pivot + Whole(v) * stride + 3 * std::ptrdiff_t(Whole(u)));
    }
}

// The tile at the picture's edge or where the trace may wrap: each pixel
// is tested as the transform tests it.
template <bool OnBlack>
void TestTile(const TTrace& T, const TWin& Source, const TDestArea& Dest, const TTile& Tile, const TPrefetch& Prefetch)
{
    const auto sn = std::uint32_t(T.Sn);
    const auto cs = std::uint32_t(T.Cs);
    std::uint32_t rowU = T.U(Tile.X0, Tile.Y0);
    std::uint32_t rowV = T.V(Tile.X0, Tile.Y0);
    for (std::int32_t y = Tile.Y0; y < Tile.Y1; ++y, rowU += sn, rowV -= cs) {
        Prefetch.Row(y - Tile.Y0);
        std::uint8_t* out = Dest.At(Tile.X0, y);
        std::uint8_t* const end = out + 3 * std::size_t(Tile.X1 - Tile.X0);
        for (std::uint32_t u = rowU, v = rowV; out != end; out += 3, u -= cs, v -= sn) {
            // No overflow: |Whole| <= 32768 and the half sizes are below 16384.
            const std::int32_t rx = Whole(u) + T.Hw;
            const std::int32_t ry = Whole(v) + T.Hh;
            if (rx >= 1 && rx < T.Ws && ry >= 1 && ry < T.Hs)
                CopyPixel(out, Source.Row(ry) + 3 * std::size_t(rx));
            else if constexpr (OnBlack)
                out[0] = out[1] = out[2] = 0;
        }
    }
}

template <bool OnBlack>
void DrawTile(const TTrace& T, const TWin& Source, const TDestArea& Dest, const TTile& Tile, const TPrefetch& Prefetch)
{
    switch (Tile.Cover) {
    case TCover::Inside:
        CopyTile(T, Source, Dest, Tile, Prefetch);
        break;
    case TCover::Mixed:
        TestTile<OnBlack>(T, Source, Dest, Tile, Prefetch);
        break;
    case TCover::Outside:
        if constexpr (OnBlack)
            for (std::int32_t y = Tile.Y0; y < Tile.Y1; ++y) {
                Prefetch.Row(y - Tile.Y0);
                Blacken(Dest, y, Tile.X0, Tile.X1);
            }
        break;
    case TCover::None:
        break;
    }
}

// The rotated path scans every destination pixel but the last column, in
// rows of tiles, surveying each tile one ahead so that it can be prefetched.
template <bool OnBlack>
void PlaceRotated(const TWin& Source, const TDestArea& Dest, std::int32_t CentreX, std::int32_t CentreY,
                  float Angle, const TRect& Clip)
{
    const TTurn turn = TurnCoefficients(Angle);
    const TTrace trace{CentreX, CentreY, turn.Sn, turn.Cs, Source.Width() / 2, Source.Height() / 2,
                       Source.Width(), Source.Height()};
    const std::int32_t right = std::min(Clip.Right, Dest.Width - 1);
    if constexpr (OnBlack)
        if (Clip.Right > right)
            for (std::int32_t y = Clip.Top; y < Clip.Bottom; ++y)
                Blacken(Dest, y, right, Clip.Right);
    if (Clip.Left >= right)
        return;

    const auto survey = [&](std::int32_t X0, std::int32_t Y0) {
        if (X0 >= right) {
            X0 = Clip.Left;
            Y0 += TileSide;
        }
        if (Y0 >= Clip.Bottom)
            return TTile{};
        return Survey(trace, X0, std::min(X0 + TileSide, right), Y0, std::min(Y0 + TileSide, Clip.Bottom));
    };
    for (TTile tile = survey(Clip.Left, Clip.Top); tile.Cover != TCover::None;) {
        const TTile next = survey(tile.X0 + TileSide, tile.Y0);
        DrawTile<OnBlack>(trace, Source, Dest, tile, TPrefetch(Source, Dest, next, tile.Y1 - tile.Y0));
        tile = next;
    }
}

TRect Inside(const TRect& Clip, std::int32_t Width, std::int32_t Height)
{
    return {std::max(Clip.Left, 0), std::max(Clip.Top, 0), std::min(Clip.Right, Width),
            std::min(Clip.Bottom, Height)};
}

template <bool OnBlack>
void Place(const TWin& Source, const TDestArea& Dest, std::int32_t CentreX, std::int32_t CentreY,
           float Angle)
{
    const TRect clip = Inside(Dest.Area, Dest.Width, Dest.Height);
    if (clip.Left >= clip.Right || clip.Top >= clip.Bottom)
        return;
    if (Source.Empty()) {
        if constexpr (OnBlack)
            for (std::int32_t y = clip.Top; y < clip.Bottom; ++y)
                Blacken(Dest, y, clip.Left, clip.Right);
        return;
    }
    // Trunc(Angle) = 0, NaN counting as 0, takes the unrotated path.
    if (!(std::fabs(Angle) >= 1.0f))
        PlaceUnrotated<OnBlack>(Source, Dest, CentreX, CentreY, clip);
    else
        PlaceRotated<OnBlack>(Source, Dest, CentreX, CentreY, Angle, clip);
}

TDestArea WholeSurface(TWin& Dest, const TRect& Clip)
{
    const TRect area = Inside(Clip, Dest.Width(), Dest.Height());
    if (area.Left >= area.Right || area.Top >= area.Bottom)
        return {};
    return {Dest.Row(area.Top) + 3 * std::size_t(area.Left), Dest.Stride, Dest.Width(), Dest.Height(), area};
}

} // namespace

void PlaceTurned(const TWin& Source, TWin& Dest, std::int32_t CentreX, std::int32_t CentreY,
                 float Angle, const TRect& Clip)
{
    Place<false>(Source, WholeSurface(Dest, Clip), CentreX, CentreY, Angle);
}

void PlaceTurnedOnBlack(const TWin& Source, TWin& Dest, std::int32_t CentreX, std::int32_t CentreY,
                        float Angle, const TRect& Clip)
{
    Place<true>(Source, WholeSurface(Dest, Clip), CentreX, CentreY, Angle);
}

void PlaceTurnedOnBlackArea(const TWin& Source, const TDestArea& Dest, std::int32_t CentreX,
                            std::int32_t CentreY, float Angle)
{
    Place<true>(Source, Dest, CentreX, CentreY, Angle);
}

} // namespace tavrin
