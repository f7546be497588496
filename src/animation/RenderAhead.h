// The frames of a sweep rendered on a thread of their own while the caller
// encodes the one before: the export runs at the speed of its slower half.
// At most Depth frames wait, so memory stays flat however long the sweep.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "Render.h"
#include "Sweep.h"
#include "TWin.h"

namespace tavrin {

struct TAheadFrame {
    TWin Full;   // the render, at the source's size
    TWin Scaled; // Full fitted to the export's size; empty when that is full size
};

class TRenderAhead {
public:
    // Source must stay as it is until this is destroyed. A frame of
    // ScaledWidth x ScaledHeight other than the source's is downscaled.
    TRenderAhead(const TWin& Source, const TSweep& Sweep, const SliderPositions& Base,
                 std::int32_t ScaledWidth, std::int32_t ScaledHeight);
    ~TRenderAhead();
    TRenderAhead(const TRenderAhead&) = delete;
    TRenderAhead& operator=(const TRenderAhead&) = delete;

    // The next frame of the sweep, valid until the next call; rethrows what
    // the rendering thread threw.
    const TAheadFrame& Next();

private:
    static constexpr std::int64_t Depth = 2; // ready ahead of the one in use

    void Run();

    const TWin& Source;
    TSweep Sweep;
    SliderPositions Base;
    std::int64_t Total;
    std::vector<TAheadFrame> Slots;
    std::mutex Lock;
    std::condition_variable Changed;
    std::int64_t Made = 0;  // frames rendered
    std::int64_t Taken = 0; // frames handed out by Next
    bool Stop = false;
    std::exception_ptr Error;
    std::thread Worker;
};

} // namespace tavrin
