#include "SliceMap.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "Parallel.h"

namespace tavrin {
namespace {

struct Pass {
    bool FlipX;
    bool FlipY;
};

// The order a row shows after a step that reads a row in order From: a
// reflected copy to another row, or a row reflected onto itself.
ColumnOrder Follow(ColumnOrder From, bool InPlace)
{
    switch (From) {
    case ColumnOrder::Same:
        return InPlace ? ColumnOrder::Lower : ColumnOrder::Mirrored;
    case ColumnOrder::Mirrored:
        return InPlace ? ColumnOrder::Upper : ColumnOrder::Same;
    default:
        return From; // min and max of a column and its mirror are fixed by both steps
    }
}

// The row steps of one pass in their defining order: source rows from the
// bottom up, each copied into the rows of its residue class above it.
void MapPass(std::vector<SliceRow>& Rows, const SliceGrid& Grid, Pass P)
{
    for (std::int32_t r = Grid.Bottom; r >= Grid.Top; --r)
        for (std::int32_t d = r; d >= Grid.Top; d -= Grid.SliceHeight) {
            const std::int32_t t = P.FlipY ? Grid.Bottom - d : d;
            const SliceRow from = Rows[std::size_t(r)];
            Rows[std::size_t(t)] = {from.From, P.FlipX ? Follow(from.Order, t == r) : from.Order,
                                    true};
        }
}

std::array<std::vector<std::int32_t>, ColumnOrderCount> ColumnTables(const SliceGrid& Grid)
{
    std::array<std::vector<std::int32_t>, ColumnOrderCount> tables;
    for (auto& table : tables)
        table.resize(std::size_t(Grid.SliceWidth));
    for (std::int32_t c = 0; c < Grid.SliceWidth; ++c) {
        const std::int32_t m = (Grid.Right - c) % Grid.SliceWidth;
        tables[std::size_t(ColumnOrder::Same)][std::size_t(c)] = c;
        tables[std::size_t(ColumnOrder::Mirrored)][std::size_t(c)] = m;
        tables[std::size_t(ColumnOrder::Lower)][std::size_t(c)] = std::min(c, m);
        tables[std::size_t(ColumnOrder::Upper)][std::size_t(c)] = std::max(c, m);
    }
    return tables;
}

// Lays the template Period (the first SliceWidth pixels of a row as they
// were) in the given order at the start of Row, then repeats it up to
// RowBytes. Period may be Row itself only when there is no table.
void BuildRow(std::uint8_t* Row, const std::uint8_t* Period, const std::int32_t* Table,
              std::size_t PeriodBytes, std::size_t RowBytes)
{
    if (Table == nullptr) {
        if (Row != Period)
            std::memcpy(Row, Period, PeriodBytes);
    } else {
        for (std::size_t i = 0; i < PeriodBytes; i += 3, ++Table) {
            const std::uint8_t* p = Period + 3 * std::size_t(*Table);
            Row[i] = p[0];
            Row[i + 1] = p[1];
            Row[i + 2] = p[2];
        }
    }
    for (std::size_t done = PeriodBytes; done < RowBytes;) {
        const std::size_t length = std::min(done, RowBytes - done);
        std::memcpy(Row + done, Row, length);
        done += length;
    }
}

} // namespace

const std::int32_t* OrderTable(const SliceMap& Map, ColumnOrder Order)
{
    const std::vector<std::int32_t>& table = Map.Columns[std::size_t(Order)];
    return Order == ColumnOrder::Same || table.empty() ? nullptr : table.data();
}

SliceGrid MakeSliceGrid(std::int32_t Width, std::int32_t Height, std::int32_t XSlices,
                        std::int32_t YSlices, std::int32_t Left, std::int32_t Top,
                        std::int32_t Right, std::int32_t Bottom)
{
    if (Width <= 0 || Height <= 0)
        return {}; // no pixel to clamp to
    const TCorners c = OrderAndClamp({Left, Top, Right, Bottom}, Width, Height);
    SliceGrid grid;
    grid.Left = c.X1;
    grid.Top = c.Y1;
    grid.Right = c.X2;
    grid.Bottom = c.Y2;
    // Negative counts give sizes of 0 or less, and then no pass runs.
    grid.SliceWidth = (grid.Right + 1) / (XSlices == 0 ? 1 : XSlices);
    grid.SliceHeight = (grid.Bottom + 1) / (YSlices == 0 ? 1 : YSlices);
    return grid;
}

bool SliceMap::ChangesNothing() const
{
    if (Grid.SliceWidth != Grid.Right + 1)
        return false; // the template is repeated over other columns
    for (std::size_t y = 0; y < Rows.size(); ++y) {
        const SliceRow& row = Rows[y];
        if (!row.Written)
            continue;
        if (row.From != std::int32_t(y))
            return false;
        const std::int32_t* table = OrderTable(*this, row.Order);
        for (std::int32_t c = 0; table && c < Grid.SliceWidth; ++c)
            if (table[c] != c)
                return false;
    }
    return true;
}

SliceMap MapSlices(const SliceGrid& Grid, std::int32_t Height, std::int32_t ReflectX,
                   std::int32_t ReflectY, std::int32_t LockXY)
{
    SliceMap map;
    map.Grid = Grid;
    map.Rows.resize(std::size_t(Height));
    for (std::int32_t y = 0; y < Height; ++y)
        map.Rows[std::size_t(y)].From = y;

    // Lock X-Y flips the rows, then the columns of what that left.
    const Pass locked[] = {{false, true}, {true, false}};
    const Pass single[] = {{ReflectX == 1, ReflectY == 1}};
    const bool twoPasses = LockXY == 1;
    const std::span<const Pass> passes = twoPasses ? std::span<const Pass>(locked) : single;
    for (const Pass& pass : passes)
        MapPass(map.Rows, Grid, pass);
    const Pass last = passes.back();
    if (last.FlipX)
        map.Columns = ColumnTables(Grid);

    map.SourceTop = Height;
    for (const SliceRow& row : map.Rows)
        if (row.Written) {
            map.SourceTop = std::min(map.SourceTop, row.From);
            map.SourceBottom = std::max(map.SourceBottom, row.From);
        }

    // The last step spreads template column SliceWidth - 1 of row Top.
    const std::int32_t w = Grid.SliceWidth;
    const std::int32_t k = (w - 1) + (Grid.Right - (w - 1)) / w * w;
    map.LastX = last.FlipX ? Grid.Right - k : k;
    map.LastY = last.FlipY ? Grid.Bottom - Grid.Top : Grid.Top;
    return map;
}

void ApplySlices(const SliceMap& Map, TWin& Surface)
{
    const std::size_t periodBytes = 3 * std::size_t(Map.Grid.SliceWidth);
    const std::size_t rowBytes = 3 * std::size_t(Map.Grid.Right + 1);
    const std::size_t height = Map.Rows.size();

    // Rows grouped by what they show: one list per source row and order, in row order.
    const auto keyOf = [&Map](const SliceRow& Row) {
        return std::size_t(Row.From - Map.SourceTop) * ColumnOrderCount + std::size_t(Row.Order);
    };
    const std::size_t keys = std::size_t(Map.SourceBottom - Map.SourceTop + 1) * ColumnOrderCount;
    std::vector<std::int32_t> head(keys, -1), tail(keys, -1), built(keys, -1), next(height, -1);
    std::vector<std::uint8_t> isSource(height, 0);
    for (std::size_t y = 0; y < height; ++y) {
        const SliceRow& row = Map.Rows[y];
        if (!row.Written)
            continue;
        const std::size_t key = keyOf(row);
        (head[key] < 0 ? head[key] : next[std::size_t(tail[key])]) = std::int32_t(y);
        tail[key] = std::int32_t(y);
        isSource[std::size_t(row.From)] = 1;
    }

    // First the rows that nobody reads, while every source row is intact:
    // each group is built once and copied on while the built row is in cache.
    // Groups write rows of their own and read only source rows, so they run
    // in parallel on a surface large enough to pay.
    const bool pays = std::int64_t(height) * std::int64_t(Map.Grid.Right + 1) >= ParallelPixels;
#pragma omp parallel for schedule(dynamic) if (pays)
    for (std::size_t key = 0; key < keys; ++key)
        for (std::int32_t y = head[key]; y >= 0; y = next[std::size_t(y)]) {
            if (isSource[std::size_t(y)])
                continue;
            const SliceRow& row = Map.Rows[std::size_t(y)];
            if (built[key] >= 0) {
                std::memcpy(Surface.Row(y), Surface.Row(built[key]), rowBytes);
            } else {
                BuildRow(Surface.Row(y), Surface.Row(row.From), OrderTable(Map, row.Order),
                         periodBytes, rowBytes);
                built[key] = y;
            }
        }

    // Then the source rows. Each of them shows its own template (the passes
    // never leave a source row showing another row), so it is rebuilt from a
    // copy of itself, or copied from a row that shows the same.
    std::vector<std::uint8_t> own(periodBytes);
    for (std::int32_t y = Map.SourceTop; y <= Map.SourceBottom; ++y) {
        const SliceRow& row = Map.Rows[std::size_t(y)];
        if (!isSource[std::size_t(y)] || !row.Written)
            continue;
        const std::size_t key = keyOf(row);
        const std::int32_t* table = OrderTable(Map, row.Order);
        if (built[key] >= 0) {
            std::memcpy(Surface.Row(y), Surface.Row(built[key]), rowBytes);
        } else if (table == nullptr) {
            BuildRow(Surface.Row(y), Surface.Row(row.From), nullptr, periodBytes, rowBytes);
        } else {
            std::memcpy(own.data(), Surface.Row(row.From), periodBytes);
            BuildRow(Surface.Row(y), own.data(), table, periodBytes, rowBytes);
        }
        built[key] = y;
    }

    Surface.Probe = Surface.Row(Map.LastY) + 3 * std::size_t(Map.LastX);
}

} // namespace tavrin
