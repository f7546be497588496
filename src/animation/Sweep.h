// A slider sweep: one slider runs from From to To in steps of Step while the
// other seven stay where they are; every step is one frame.
#pragma once

#include <cstdint>

#include "Render.h"

namespace tavrin {

struct TSweep {
    Slider Which = Slider::Angle;
    std::int64_t From = 0;
    std::int64_t To = 0;
    std::int64_t Step = 1; // positive: the direction follows From and To
};

// More frames than anyone shares in one file, and a bound on the time and
// the disk an export can take.
constexpr std::int64_t MaxSweepFrames = 10000;

// The number of frames, counted from the numbers as given, before any
// clamping: To is the last frame when a step lands on it. Throws
// SurfaceError for a step below 1 or more than MaxSweepFrames frames.
std::int64_t SweepFrameCount(const TSweep& Sweep);

// Frame Index (0 first): Base with the swept slider at From moved Index
// steps toward To, clamped like the slider.
SliderPositions SweepFrame(const TSweep& Sweep, SliderPositions Base, std::int64_t Index);

// When frame Index starts, in Ticks per second, at Fps frames a second,
// rounded to the nearest tick from the animation's start so that rounding
// never adds up.
std::int64_t FrameStart(std::int64_t Index, int Fps, int Ticks);

} // namespace tavrin
