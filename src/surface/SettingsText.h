// The slider settings as text: tavrin-render's slider options, which the
// control panel also copies to and pastes from the clipboard.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "Render.h"

namespace tavrin {

// The option that sets each slider, in the control panel's order.
constexpr std::array<std::string_view, SliderCount> SliderOptions{
    "--x-slice", "--y-slice",    "--tavrin-x",   "--tavrin-y",
    "--lock-xy", "--x-position", "--y-position", "--angle",
};

// The option that asks for a render with no slider option given.
constexpr std::string_view RenderOption = "--render";

// The slider that Name ("--angle") sets, if any.
std::optional<Slider> FindSliderOption(std::string_view Name);

// A whole number with an optional sign. One beyond 64 bits comes back as the
// nearest 64-bit value: the slider clamps it like any other beyond its range.
std::optional<std::int64_t> ParseInteger(std::string_view Text);

// The sliders off their initial positions, in the panel's order, such as
// "--x-slice 4 --angle 37"; "--render" when every slider is at its start.
std::string SettingsText(const SliderPositions& Positions);

// What a text made of "--option N" or "--option=N" settings, and perhaps
// "--render", separated by white space, sets: a slider that it does not name
// takes its initial position, and one that it names twice the last value.
// Positions are clamped to the sliders' ranges. Anything else throws
// std::invalid_argument with a message for the user.
SliderPositions ReadSettingsText(std::string_view Text);

} // namespace tavrin
