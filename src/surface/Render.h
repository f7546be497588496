// The render pipeline of the control panel: the output is rebuilt from the
// source and the eight slider positions, and from nothing else.
#pragma once

#include <array>
#include <cstdint>

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

} // namespace tavrin
