// Slice-reflect as a mapping of whole rows. When the rectangle starts at
// column 0, every row that the in-place passes write ends up showing the
// template columns (0 .. SliceWidth - 1) of one row as it was before the
// call, in one of four column orders, repeated every SliceWidth columns up to
// Right. The map records which row and which order, so that the result can
// be copied row by row instead of spread pixel by pixel.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "TWin.h"

namespace tavrin {

// The rectangle after normalisation, and the slice sizes, which are measured
// from column 0 and row 0.
struct SliceGrid {
    std::int32_t Left = 0;
    std::int32_t Top = 0;
    std::int32_t Right = 0;
    std::int32_t Bottom = 0;
    std::int32_t SliceWidth = 0;
    std::int32_t SliceHeight = 0;

    // A pass writes nothing when the template is empty.
    bool Runs() const { return SliceWidth > Left && SliceHeight > Top; }
};

// Orders the corners, clamps them into a Width x Height surface and divides
// by the slice counts (0 counting as 1). An empty surface gives a grid that
// does not run.
SliceGrid MakeSliceGrid(std::int32_t Width, std::int32_t Height, std::int32_t XSlices,
                        std::int32_t YSlices, std::int32_t Left, std::int32_t Top,
                        std::int32_t Right, std::int32_t Bottom);

// With m(c) = (Right - c) mod SliceWidth, the template column that column c
// of a period shows: c, m(c), min(c, m(c)) or max(c, m(c)). A reflected copy
// to another row lays m(c) at c; a row reflected onto itself reads columns it
// has already overwritten and keeps min(c, m(c)). Either step takes each of
// the four orders to one of the four again.
enum class ColumnOrder : std::uint8_t { Same, Mirrored, Lower, Upper };
constexpr int ColumnOrderCount = 4;

struct SliceRow {
    std::int32_t From = 0; // the row whose template this row shows
    ColumnOrder Order = ColumnOrder::Same;
    bool Written = false; // false: the passes leave the row as it is
};

struct SliceMap {
    SliceGrid Grid;
    std::vector<SliceRow> Rows; // one per row of the surface
    // Per order, the template column shown at each column 0 .. SliceWidth - 1
    // of a period; empty when no pass reflects across.
    std::array<std::vector<std::int32_t>, ColumnOrderCount> Columns;
    // The range of rows that written rows show.
    std::int32_t SourceTop = 0;
    std::int32_t SourceBottom = -1;
    // The last pixel the passes write, where the probe comes to rest.
    std::int32_t LastX = 0;
    std::int32_t LastY = 0;

    // True when every written row would show exactly what it holds.
    bool ChangesNothing() const;
};

// The column table of an order, or none where the template is copied as it is.
const std::int32_t* OrderTable(const SliceMap& Map, ColumnOrder Order);

// Follows the passes row by row. Needs Grid.Runs() and Grid.Left == 0.
SliceMap MapSlices(const SliceGrid& Grid, std::int32_t Height, std::int32_t ReflectX,
                   std::int32_t ReflectY, std::int32_t LockXY);

// Rewrites Surface as the passes of Map would, reading only the template
// columns of rows SourceTop .. SourceBottom, and leaves the probe on the last
// pixel the passes write.
void ApplySlices(const SliceMap& Map, TWin& Surface);

} // namespace tavrin
