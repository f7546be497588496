#include "Downscale.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "Parallel.h"

namespace tavrin {
namespace {

// The source pixels that one destination pixel covers along an axis.
struct TSpan {
    std::int32_t First;
    std::int32_t Count;
    std::size_t Weights; // index of the first weight
};

// How destination pixels From .. To - 1 cover an axis of SourceLength pixels
// shown in DestLength. Measured in 1 / DestLength of a source pixel, every
// overlap is a whole number and the weights of one destination pixel add up
// to SourceLength.
struct TCover {
    std::vector<TSpan> Spans;
    std::vector<std::uint32_t> Weights;

    TCover(std::int64_t SourceLength, std::int64_t DestLength, std::int32_t From, std::int32_t To)
    {
        for (std::int64_t D = From; D < To; ++D) {
            const std::int64_t Begin = D * SourceLength;
            const std::int64_t End = Begin + SourceLength;
            const std::int64_t First = Begin / DestLength;
            const std::int64_t Last = (End - 1) / DestLength;
            Spans.push_back({std::int32_t(First), std::int32_t(Last - First + 1), Weights.size()});
            for (std::int64_t S = First; S <= Last; ++S)
                Weights.push_back(std::uint32_t(std::min(End, (S + 1) * DestLength) -
                                                std::max(Begin, S * DestLength)));
        }
    }
};

// One source row summed across into the columns of the area: at most
// 255 x the source width per channel, which fits 32 bits.
void SumAcross(const std::uint8_t* Row, const TCover& Columns, std::uint32_t* Out)
{
    for (const TSpan& Span : Columns.Spans) {
        const std::uint8_t* P = Row + 3 * std::size_t(Span.First);
        const std::uint32_t* W = Columns.Weights.data() + Span.Weights;
        std::uint32_t B = 0, G = 0, R = 0;
        for (std::int32_t I = 0; I < Span.Count; ++I, P += 3) {
            B += W[I] * P[0];
            G += W[I] * P[1];
            R += W[I] * P[2];
        }
        *Out++ = B;
        *Out++ = G;
        *Out++ = R;
    }
}

// Sum / Total rounded to nearest, halves up, for sums below 2^40: a division
// by a multiplication, put right by the one step a rounded reciprocal can
// be off.
class TRounding {
public:
    explicit TRounding(std::uint64_t Total) : Twice(2 * Total), Half(Total), Inverse(1.0 / double(2 * Total)) {}

    std::uint8_t operator()(std::uint64_t Sum) const
    {
        const std::uint64_t N = 2 * Sum + Half;
        std::uint64_t Q = std::uint64_t(double(N) * Inverse);
        if (Q * Twice > N)
            --Q;
        else if ((Q + 1) * Twice <= N)
            ++Q;
        return std::uint8_t(Q);
    }

private:
    std::uint64_t Twice;
    std::uint64_t Half;
    double Inverse;
};

// The pixels of Dest in columns Left .. Right - 1 and rows Top .. Bottom - 1.
void DownscaleArea(const TWin& Source, TWin& Dest, std::int32_t Left, std::int32_t Top,
                   std::int32_t Right, std::int32_t Bottom)
{

    const TCover Columns(Source.Width(), Dest.Width(), Left, Right);
    const TCover Rows(Source.Height(), Dest.Height(), Top, Bottom);
    // Every destination pixel's weights add up to the source's area; the
    // sums stay below 255 x 32767 x 32767, well inside 64 bits.
    const std::uint64_t Total = std::uint64_t(Source.Width()) * std::uint64_t(Source.Height());
    const std::size_t Channels = 3 * std::size_t(Right - Left);
    const TRounding Round(Total);
    // A source row on the border of two destination rows serves both: the
    // last one summed is kept.
    std::vector<std::uint32_t> Across(Channels);
    std::int32_t AcrossRow = -1;
    std::vector<std::uint64_t> Sum(Channels);
    for (std::int32_t Y = Top; Y < Bottom; ++Y) {
        const TSpan& Span = Rows.Spans[std::size_t(Y - Top)];
        std::fill(Sum.begin(), Sum.end(), 0);
        for (std::int32_t I = 0; I < Span.Count; ++I) {
            if (AcrossRow != Span.First + I) {
                AcrossRow = Span.First + I;
                SumAcross(Source.Row(AcrossRow), Columns, Across.data());
            }
            const std::uint64_t W = Rows.Weights[Span.Weights + std::size_t(I)];
            for (std::size_t C = 0; C < Channels; ++C)
                Sum[C] += W * Across[C];
        }
        std::uint8_t* Out = Dest.Row(Y) + 3 * std::size_t(Left);
        for (std::size_t C = 0; C < Channels; ++C)
            Out[C] = Round(Sum[C]);
    }
}

} // namespace

void AreaDownscale(const TWin& Source, TWin& Dest, const TRect& Area)
{
    const std::int32_t Left = std::max(Area.Left, 0);
    const std::int32_t Top = std::max(Area.Top, 0);
    const std::int32_t Right = std::min(Area.Right, Dest.Width());
    const std::int32_t Bottom = std::min(Area.Bottom, Dest.Height());
    if (Source.Empty() || Left >= Right || Top >= Bottom)
        return;
    // Bands of rows on every core: each pixel depends on the sizes alone.
    const std::int64_t rowPixels = std::int64_t(Source.Width()) * (Source.Height() / Dest.Height() + 1);
    ForRowBands(Top, Bottom, rowPixels, [&](std::int32_t BandTop, std::int32_t BandBottom) {
        DownscaleArea(Source, Dest, Left, BandTop, Right, BandBottom);
    });
}

void AreaDownscale(const TWin& Source, TWin& Dest)
{
    AreaDownscale(Source, Dest, TRect{0, 0, Dest.Width(), Dest.Height()});
}

} // namespace tavrin
