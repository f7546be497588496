#include "RenderAhead.h"

#include "Downscale.h"

namespace tavrin {

TRenderAhead::TRenderAhead(const TWin& Source, const TSweep& Sweep, const SliderPositions& Base,
                           std::int32_t ScaledWidth, std::int32_t ScaledHeight)
    : Source(Source), Sweep(Sweep), Base(Base), Total(SweepFrameCount(Sweep))
{
    const bool scaled = ScaledWidth != Source.Width() || ScaledHeight != Source.Height();
    // One slot for the frame in use and Depth ready behind it.
    for (std::int64_t i = 0; i <= Depth; ++i)
        Slots.push_back({TWin(Source.Width(), Source.Height()),
                         scaled ? TWin(ScaledWidth, ScaledHeight) : TWin()});
    Worker = std::thread(&TRenderAhead::Run, this);
}

TRenderAhead::~TRenderAhead()
{
    {
        std::lock_guard<std::mutex> lock(Lock);
        Stop = true;
    }
    Changed.notify_all();
    Worker.join();
}

const TAheadFrame& TRenderAhead::Next()
{
    std::unique_lock<std::mutex> lock(Lock);
    ++Taken; // the frame handed out before is done with
    Changed.notify_all();
    Changed.wait(lock, [&] { return Made >= Taken || Error; });
    if (Made < Taken)
        std::rethrow_exception(Error);
    return Slots[std::size_t((Taken - 1) % std::int64_t(Slots.size()))];
}

void TRenderAhead::Run()
{
    try {
        for (std::int64_t i = 0; i < Total; ++i) {
            {
                // Frame i takes the slot of frame i - Slots, which must be done with.
                std::unique_lock<std::mutex> lock(Lock);
                Changed.wait(lock, [&] { return Stop || i < Taken + Depth; });
                if (Stop)
                    return;
            }
            TAheadFrame& slot = Slots[std::size_t(i % std::int64_t(Slots.size()))];
            Render(Source, slot.Full, SweepFrame(Sweep, Base, i));
            if (!slot.Scaled.Empty())
                AreaDownscale(slot.Full, slot.Scaled);
            {
                std::lock_guard<std::mutex> lock(Lock);
                Made = i + 1;
            }
            Changed.notify_all();
        }
    } catch (...) {
        std::lock_guard<std::mutex> lock(Lock);
        Error = std::current_exception();
        Changed.notify_all();
    }
}

} // namespace tavrin
