#include "LazyOutput.h"

#include <algorithm>
#include <cstring>

#include "Parallel.h"

namespace tavrin {

namespace {

void CopyArea(const TWin& Source, TWin& Output, const TRect& Area)
{
    for (std::int32_t y = Area.Top; y < Area.Bottom; ++y)
        std::memcpy(Output.Row(y) + 3 * std::size_t(Area.Left), Source.Row(y) + 3 * std::size_t(Area.Left),
                    3 * std::size_t(Area.Right - Area.Left));
}

} // namespace

void TLazyOutput::Reset(std::int32_t NewWidth, std::int32_t NewHeight, bool Valid)
{
    Width = std::max(NewWidth, 0);
    Height = std::max(NewHeight, 0);
    Columns = (Width + TileSide - 1) / TileSide;
    Rows = (Height + TileSide - 1) / TileSide;
    ValidTiles.assign(std::size_t(Columns) * std::size_t(Rows), Valid ? 1 : 0);
    Missing = Valid ? 0 : ValidTiles.size();
}

void TLazyOutput::SetAsLoaded(std::int32_t NewWidth, std::int32_t NewHeight)
{
    Reset(NewWidth, NewHeight, false);
    Positions.reset();
    Plan.reset();
}

void TLazyOutput::SetPositions(std::int32_t NewWidth, std::int32_t NewHeight,
                               const SliderPositions& NewPositions)
{
    Reset(NewWidth, NewHeight, false);
    Positions = NewPositions;
    // Made when first needed: a setting that is replaced before anything is
    // drawn costs nothing.
    Plan.reset();
}

// The tile columns and rows (half-open) that Area touches inside the output.
TRect TLazyOutput::TilesOf(const TRect& Area) const
{
    const std::int32_t left = std::clamp(Area.Left, 0, Width);
    const std::int32_t top = std::clamp(Area.Top, 0, Height);
    const std::int32_t right = std::clamp(Area.Right, 0, Width);
    const std::int32_t bottom = std::clamp(Area.Bottom, 0, Height);
    if (left >= right || top >= bottom)
        return {};
    return {left / TileSide, top / TileSide, (right + TileSide - 1) / TileSide,
            (bottom + TileSide - 1) / TileSide};
}

void TLazyOutput::Ensure(const TWin& Source, TWin& Output, const TRect& Area)
{
    if (Missing == 0)
        return;
    const TRect tiles = TilesOf(Area);
    if (tiles.Left >= tiles.Right)
        return;
    if (!Plan && Positions)
        Plan.emplace(Source, Width, Height, *Positions);
    // Rows of tiles write rows of the output of their own: a large area is
    // drawn on every core.
    const bool pays = std::int64_t(tiles.Bottom - tiles.Top) * (tiles.Right - tiles.Left) * TileSide *
                          TileSide >= ParallelPixels;
    std::size_t drawn = 0;
#pragma omp parallel for schedule(dynamic) reduction(+ : drawn) if (pays)
    for (std::int32_t row = tiles.Top; row < tiles.Bottom; ++row) {
        std::uint8_t* valid = ValidTiles.data() + std::size_t(row) * std::size_t(Columns);
        // Each run of missing tiles in a row is drawn as one rectangle.
        for (std::int32_t column = tiles.Left; column < tiles.Right;) {
            if (valid[column]) {
                ++column;
                continue;
            }
            const std::int32_t first = column;
            while (column < tiles.Right && !valid[column])
                valid[column++] = 1;
            const TRect area{first * TileSide, row * TileSide, std::min(column * TileSide, Width),
                             std::min((row + 1) * TileSide, Height)};
            if (Plan)
                Plan->Draw(Source, Output, area);
            else
                CopyArea(Source, Output, area);
            drawn += std::size_t(column - first);
        }
    }
    Missing -= drawn;
}

void TLazyOutput::EnsureAll(const TWin& Source, TWin& Output)
{
    if (Missing == 0)
        return;
    // One render or copy in place is cheaper than the parts, and rewrites the
    // valid tiles with what they hold.
    if (Positions)
        Render(Source, Output, *Positions);
    else
        std::memcpy(Output.Bits, Source.Bits, Output.ByteCount());
    std::fill(ValidTiles.begin(), ValidTiles.end(), std::uint8_t(1));
    Missing = 0;
}

bool TLazyOutput::Valid(const TRect& Area) const
{
    const TRect tiles = TilesOf(Area);
    for (std::int32_t row = tiles.Top; row < tiles.Bottom; ++row)
        for (std::int32_t column = tiles.Left; column < tiles.Right; ++column)
            if (!ValidTiles[std::size_t(row) * std::size_t(Columns) + std::size_t(column)])
                return false;
    return true;
}

} // namespace tavrin
