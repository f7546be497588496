#include "Render.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "Parallel.h"
#include "PlaceTurned.h"
#include "Reference.h"
#include "SliceMap.h"

namespace tavrin {
namespace {

SliderPositions Clamped(const SliderPositions& Positions)
{
    SliderPositions p;
    for (int i = 0; i < SliderCount; ++i)
        p.Value[std::size_t(i)] = ClampToSlider(Slider(i), Positions.Value[std::size_t(i)]);
    return p;
}

// The source's centre goes half the source in from the output's corner, plus the offsets.
std::int32_t PlacedCentreX(const TWin& Source, const SliderPositions& P)
{
    return Source.Width() / 2 + P[Slider::XPosition];
}

std::int32_t PlacedCentreY(const TWin& Source, const SliderPositions& P)
{
    return Source.Height() / 2 + P[Slider::YPosition];
}

} // namespace

std::int32_t ClampToSlider(Slider S, std::int64_t Position)
{
    const SliderRange& range = SliderRanges[std::size_t(S)];
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(Position, range.Min, range.Max));
}

TRenderPlan::TRenderPlan(const TWin& Source, std::int32_t Width, std::int32_t Height,
                         const SliderPositions& Positions)
    : Width(Width), Height(Height)
{
    const SliderPositions p = Clamped(Positions);
    CentreX = PlacedCentreX(Source, p);
    CentreY = PlacedCentreY(Source, p);
    Angle = float(p[Slider::Angle]);
    if (Source.Empty())
        return; // all black, whatever the slicing does
    const SliceGrid grid = MakeSliceGrid(Width, Height, p[Slider::XSlice], p[Slider::YSlice], 0, 0,
                                         Width - 1, Height - 1);
    if (!grid.Runs())
        return;
    SliceMap map = MapSlices(grid, Height, p[Slider::TavrinX], p[Slider::TavrinY], p[Slider::LockXY]);
    if (!map.ChangesNothing())
        Map = std::move(map);
}

// The defining pipeline clears the output, draws the whole turned picture and
// slices it in place. Here only the pixels that the slicing reads are drawn,
// each on black, and the slicing copies them to every row that shows them.
void Render(const TWin& Source, TWin& Output, const SliderPositions& Positions)
{
    const std::int32_t w = Output.Width();
    const std::int32_t h = Output.Height();
    if (Output.Empty())
        return;
    if (Source.Empty()) {
        Output.FillRect(0, 0, w - 1, h - 1, 0, 0, 0, 128);
        return; // the transform reads source pixel (0, 0) on every call
    }
    const TRenderPlan plan(Source, w, h, Positions);
    plan.DrawWhole(Source, Output);
}

void TRenderPlan::DrawWhole(const TWin& Source, TWin& Output) const
{
    // Over the whole output every row is written, across its whole width;
    // with slices, only the template rows are drawn before they are spread.
    const std::int32_t top = Map ? Map->SourceTop : 0;
    const std::int32_t bottom = Map ? Map->SourceBottom + 1 : Height;
    const std::int32_t right = Map ? Map->Grid.SliceWidth : Width;
    ForRowBands(top, bottom, right, [&](std::int32_t Top, std::int32_t Bottom) {
        PlaceTurnedOnBlack(Source, Output, CentreX, CentreY, Angle, TRect{0, Top, right, Bottom});
    });
    if (Map)
        ApplySlices(*Map, Output);
}

void TRenderPlan::Draw(const TWin& Source, TWin& Output, const TRect& Area) const
{
    const TRect area{std::max(Area.Left, 0), std::max(Area.Top, 0), std::min(Area.Right, Width),
                     std::min(Area.Bottom, Height)};
    if (area.Left >= area.Right || area.Top >= area.Bottom)
        return;
    if (!Map) {
        PlaceTurnedOnBlack(Source, Output, CentreX, CentreY, Angle, area);
        return;
    }
    // Bands keep the template rows that a band reads small, whatever the area.
    constexpr std::int32_t bandRows = 64;
    for (std::int32_t top = area.Top; top < area.Bottom; top += bandRows)
        DrawSlicedBand(Source, Output,
                       TRect{area.Left, top, area.Right, std::min(top + bandRows, area.Bottom)});
}

namespace {

// The template column that column X of a written row shows.
struct TColumnWalk {
    const std::int32_t* Table; // none: the column itself
    std::int32_t Period;
    std::int32_t Column;       // X mod Period

    std::int32_t Shown() const { return Table ? Table[Column] : Column; }
    void Next() { Column = Column + 1 == Period ? 0 : Column + 1; }
};

// The template columns Left .. Right - 1 of written rows read, in any order:
// the first and one past the last.
std::pair<std::int32_t, std::int32_t> TemplateColumns(const SliceMap& Map, std::int32_t Left,
                                                      std::int32_t Right)
{
    const std::int32_t period = Map.Grid.SliceWidth;
    std::int32_t first = period, last = -1;
    for (int order = 0; order < ColumnOrderCount; ++order) {
        TColumnWalk walk{OrderTable(Map, ColumnOrder(order)), period, Left % period};
        for (std::int32_t x = Left; x < std::min(Right, Left + period); ++x, walk.Next()) {
            first = std::min(first, walk.Shown());
            last = std::max(last, walk.Shown());
        }
    }
    return {first, last + 1};
}

// Writes columns Left .. Right - 1 of a row that shows Template in Order.
void BuildRowPart(std::uint8_t* Out, const std::uint8_t* Template, std::int32_t TemplateLeft,
                  const std::int32_t* Table, std::int32_t Period, std::int32_t Left,
                  std::int32_t Right)
{
    if (Table == nullptr) {
        for (std::int32_t x = Left; x < Right;) {
            const std::int32_t c = x % Period;
            const std::int32_t n = std::min(Period - c, Right - x);
            std::memcpy(Out + 3 * std::size_t(x - Left), Template + 3 * std::size_t(c - TemplateLeft),
                        3 * std::size_t(n));
            x += n;
        }
        return;
    }
    TColumnWalk walk{Table, Period, Left % Period};
    for (std::uint8_t* out = Out; out != Out + 3 * std::size_t(Right - Left); out += 3, walk.Next()) {
        const std::uint8_t* p = Template + 3 * std::size_t(walk.Shown() - TemplateLeft);
        out[0] = p[0];
        out[1] = p[1];
        out[2] = p[2];
    }
}

} // namespace

// The rows of the band show template rows of the turned picture: those are
// drawn into memory of their own, only across the columns the band reads,
// and each row of the band is laid from its template.
void TRenderPlan::DrawSlicedBand(const TWin& Source, TWin& Output, const TRect& Band) const
{
    const auto [templateLeft, templateRight] = TemplateColumns(*Map, Band.Left, Band.Right);
    std::vector<std::int32_t> froms;
    for (std::int32_t y = Band.Top; y < Band.Bottom; ++y) {
        const SliceRow& row = Map->Rows[std::size_t(y)];
        if (row.Written)
            froms.push_back(row.From);
        else // left as drawn
            PlaceTurnedOnBlack(Source, Output, CentreX, CentreY, Angle,
                               TRect{Band.Left, y, Band.Right, y + 1});
    }
    std::sort(froms.begin(), froms.end());
    froms.erase(std::unique(froms.begin(), froms.end()), froms.end());

    // Runs of consecutive template rows are drawn as one rectangle each.
    const std::size_t stride = 3 * std::size_t(templateRight - templateLeft);
    std::vector<std::uint8_t> templates(froms.size() * stride);
    for (std::size_t i = 0; i < froms.size();) {
        std::size_t j = i + 1;
        while (j < froms.size() && froms[j] == froms[j - 1] + 1)
            ++j;
        const TDestArea run{templates.data() + i * stride, stride, Width, Height,
                            TRect{templateLeft, froms[i], templateRight, froms[j - 1] + 1}};
        PlaceTurnedOnBlackArea(Source, run, CentreX, CentreY, Angle);
        i = j;
    }

    // Rows that show the same template in the same order are copies of the first.
    std::vector<std::int32_t> built(froms.size() * ColumnOrderCount, -1);
    const std::size_t rowBytes = 3 * std::size_t(Band.Right - Band.Left);
    for (std::int32_t y = Band.Top; y < Band.Bottom; ++y) {
        const SliceRow& row = Map->Rows[std::size_t(y)];
        if (!row.Written)
            continue;
        const auto index = std::size_t(std::lower_bound(froms.begin(), froms.end(), row.From) - froms.begin());
        std::int32_t& first = built[index * ColumnOrderCount + std::size_t(row.Order)];
        std::uint8_t* out = Output.Row(y) + 3 * std::size_t(Band.Left);
        if (first >= 0) {
            std::memcpy(out, Output.Row(first) + 3 * std::size_t(Band.Left), rowBytes);
            continue;
        }
        BuildRowPart(out, templates.data() + index * stride, templateLeft, OrderTable(*Map, row.Order),
                     Map->Grid.SliceWidth, Band.Left, Band.Right);
        first = y;
    }
}

void RenderRegion(const TWin& Source, TWin& Output, const SliderPositions& Positions,
                  const TRect& Area)
{
    TRenderPlan(Source, Output.Width(), Output.Height(), Positions).Draw(Source, Output, Area);
}

namespace reference {

void Render(const TWin& Source, TWin& Output, const SliderPositions& Positions)
{
    const SliderPositions p = Clamped(Positions);
    const std::int32_t w = Output.Width();
    const std::int32_t h = Output.Height();
    Output.FillRect(0, 0, w - 1, h - 1, 0, 0, 0, 128);
    if (Source.Empty() || Output.Empty())
        return;
    reference::RotateFrom(Output, Source, PlacedCentreX(Source, p), PlacedCentreY(Source, p),
                          float(p[Slider::Angle]), 1.0f, 1.0f, 0.0f, 0, 0, -256, 0, 1.0f, 0.0f, 0,
                          0, 0, 0, 1, 0, 0, 0, 0);
    reference::SliceReflect(Output, p[Slider::XSlice], p[Slider::YSlice], p[Slider::TavrinX],
                            p[Slider::TavrinY], p[Slider::LockXY], 0, 0, w - 1, h - 1);
}

} // namespace reference
} // namespace tavrin
