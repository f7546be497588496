#include "Sweep.h"

#include "SurfaceError.h"

namespace tavrin {
namespace {

// The distance between From and To, which may exceed what an int64 holds.
std::uint64_t Distance(const TSweep& Sweep)
{
    return Sweep.To >= Sweep.From ? std::uint64_t(Sweep.To) - std::uint64_t(Sweep.From)
                                  : std::uint64_t(Sweep.From) - std::uint64_t(Sweep.To);
}

} // namespace

std::int64_t SweepFrameCount(const TSweep& Sweep)
{
    if (Sweep.Step < 1)
        throw SurfaceError("The step of a sweep must be 1 or more");
    const std::uint64_t steps = Distance(Sweep) / std::uint64_t(Sweep.Step);
    if (steps >= std::uint64_t(MaxSweepFrames))
        throw SurfaceError("A sweep may have at most " + std::to_string(MaxSweepFrames) +
                           " frames");
    return std::int64_t(steps) + 1;
}

SliderPositions SweepFrame(const TSweep& Sweep, SliderPositions Base, std::int64_t Index)
{
    // Index x Step never passes To, so the unsigned sum lands on a value
    // between From and To.
    const std::uint64_t moved = std::uint64_t(Index) * std::uint64_t(Sweep.Step);
    const std::uint64_t from = std::uint64_t(Sweep.From);
    const std::int64_t position = std::int64_t(Sweep.To >= Sweep.From ? from + moved : from - moved);
    Base[Sweep.Which] = ClampToSlider(Sweep.Which, position);
    return Base;
}

std::int64_t FrameStart(std::int64_t Index, int Fps, int Ticks)
{
    return (2 * Index * Ticks + Fps) / (2 * std::int64_t(Fps));
}

} // namespace tavrin
