// Slider settings written as the changes from the start, for the tests.
#pragma once

#include <initializer_list>
#include <utility>

#include "Render.h"

namespace tavrin::test {

// The start positions with the given sliders moved.
inline SliderPositions With(std::initializer_list<std::pair<Slider, int>> Settings)
{
    SliderPositions p;
    for (const auto& [slider, position] : Settings)
        p[slider] = position;
    return p;
}

} // namespace tavrin::test
