// The render pipeline of the control panel: the output is rebuilt from the
// source and the eight slider positions, and from nothing else.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "PlaceTurned.h"
#include "SliceMap.h"
#include "TWin.h"

namespace tavrin {

// The eight sliders, in the control panel's order (ScrollBar1 .. ScrollBar8).
enum class Slider { XSlice, YSlice, TavrinX, TavrinY, LockXY, XPosition, YPosition, Angle };
constexpr int SliderCount = 8;

struct SliderRange {
    const char* Caption;
    std::int32_t Min;
    std::int32_t Max;
    std::int32_t Initial;
};

constexpr std::array<SliderRange, SliderCount> SliderRanges{{
    {"X-Slice", 1, 30, 1},
    {"Y-Slice", 0, 30, 0},
    {"Tavrin X", 0, 1, 0},
    {"Tavrin Y", 0, 1, 0},
    {"Lock X-Y", 0, 1, 0},
    {"X Position", -1500, 1500, 0},
    {"Y Position", -1500, 1500, 0},
    {"Angle", 0, 360, 0},
}};

// Slider positions, indexed by Slider; starts at the initial positions.
struct SliderPositions {
    std::array<std::int32_t, SliderCount> Value{1, 0, 0, 0, 0, 0, 0, 0};

    std::int32_t operator[](Slider S) const { return Value[std::size_t(S)]; }
    std::int32_t& operator[](Slider S) { return Value[std::size_t(S)]; }
    bool operator==(const SliderPositions&) const = default;
};

// The position a slider stores when asked for Position: clamped into its range.
std::int32_t ClampToSlider(Slider S, std::int64_t Position);

// Clears Output to black, draws Source into it turned and placed, then
// slices it. Positions are clamped to the slider ranges first. Output keeps
// its size; an empty Source leaves Output black.
void Render(const TWin& Source, TWin& Output, const SliderPositions& Positions);

// One slider setting made ready to render parts of the output: what does not
// depend on the pixels (the clamped positions, the slice map) is worked out
// once, so that many parts can share it.
class TRenderPlan {
public:
    // For an output of Width x Height pixels rendered from Source.
    TRenderPlan(const TWin& Source, std::int32_t Width, std::int32_t Height,
                const SliderPositions& Positions);

    // Writes the pixels inside Area exactly as Render writes them; pixels
    // outside Area keep what they hold. Area may reach beyond the output.
    // Output has the plan's size and Source is the surface it was made for.
    void Draw(const TWin& Source, TWin& Output, const TRect& Area) const;

    // The whole output, sliced in place.
    void DrawWhole(const TWin& Source, TWin& Output) const;

private:
    void DrawSlicedBand(const TWin& Source, TWin& Output, const TRect& Band) const;

    std::int32_t Width;
    std::int32_t Height;
    std::int32_t CentreX;
    std::int32_t CentreY;
    float Angle;
    // Empty when the slicing changes nothing: the output is the turned picture.
    std::optional<SliceMap> Map;
};

// Render restricted to Area, for one part alone.
void RenderRegion(const TWin& Source, TWin& Output, const SliderPositions& Positions,
                  const TRect& Area);

} // namespace tavrin
