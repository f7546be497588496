// The output of the control panel as a promise: the render of one slider
// setting, drawn a tile at a time as parts of it are asked for. Whatever is
// drawn is exactly what a full Render gives; which tiles hold it is explicit
// state that every new setting or image resets.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "Render.h"

namespace tavrin {

class TLazyOutput {
public:
    // Tiles are squares of this side, the last ones in a row or column cut short.
    static constexpr std::int32_t TileSide = 64;

    // The output (of Width x Height pixels) is to show the source as it is,
    // as after a load: each tile is copied from it when first asked for, so
    // that a large picture shows before all of it is copied.
    void SetAsLoaded(std::int32_t Width, std::int32_t Height);
    // A new setting for an output of Width x Height pixels: no tile is valid.
    void SetPositions(std::int32_t Width, std::int32_t Height, const SliderPositions& Positions);

    // Draws the tiles of Area (clipped to the output) that are not valid yet.
    void Ensure(const TWin& Source, TWin& Output, const TRect& Area);
    // Draws every tile that is not valid yet.
    void EnsureAll(const TWin& Source, TWin& Output);

    // Whether every pixel of Area inside the output is valid.
    bool Valid(const TRect& Area) const;
    bool Complete() const { return Missing == 0; }

private:
    void Reset(std::int32_t Width, std::int32_t Height, bool Valid);
    TRect TilesOf(const TRect& Area) const;

    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::int32_t Columns = 0;
    std::int32_t Rows = 0;
    std::vector<std::uint8_t> ValidTiles; // row by row
    std::size_t Missing = 0;
    std::optional<SliderPositions> Positions; // none: the source as it is
    std::optional<TRenderPlan> Plan;
};

} // namespace tavrin
