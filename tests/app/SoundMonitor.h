// Records what the sound server plays, from its default source (the null
// sink's monitor when the private server runs), in a thread of its own, with
// the time each sample reached the recorder.
#pragma once

#include <pulse/error.h>
#include <pulse/simple.h>

#include <QString>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class TSoundMonitor {
public:
    using TClock = std::chrono::steady_clock;
    static constexpr int Rate = 44100;
    // Louder than any rounding noise, softer than every sound of the program.
    static constexpr int Loud = 300;

    ~TSoundMonitor() { Stop(); }

    // False, with the reason in Error, when no server answers.
    bool Start()
    {
        const pa_sample_spec format{PA_SAMPLE_S16LE, Rate, 1};
        // Small fragments: each sample is stamped within a few milliseconds.
        pa_buffer_attr attr{};
        attr.maxlength = std::uint32_t(-1);
        attr.fragsize = std::uint32_t(pa_usec_to_bytes(ChunkFrames * 1000000ull / Rate, &format));
        int error = 0;
        Stream = pa_simple_new(nullptr, "tavrin-test", PA_STREAM_RECORD, nullptr, "monitor",
                               &format, nullptr, &attr, &error);
        if (!Stream) {
            Error = QString::fromUtf8(pa_strerror(error));
            return false;
        }
        Running = true;
        Reader = std::thread([this] { Read(); });
        return true;
    }

    void Stop()
    {
        Running = false;
        if (Reader.joinable())
            Reader.join();
        if (Stream)
            pa_simple_free(Stream);
        Stream = nullptr;
    }

    // When the first loud sample recorded after Since was recorded, or
    // nothing when none has been yet.
    std::optional<TClock::time_point> FirstLoudAfter(TClock::time_point Since) const
    {
        std::lock_guard lock(Guard);
        for (std::size_t i = IndexAt(Since); i < Samples.size(); ++i)
            if (std::abs(Samples[i]) > Loud)
                return Origin + FramesToDuration(i);
        return std::nullopt;
    }

    // How many loud samples were recorded between From and To.
    int LoudSamples(TClock::time_point From, TClock::time_point To) const
    {
        std::lock_guard lock(Guard);
        const std::size_t end = IndexAt(To);
        int count = 0;
        for (std::size_t i = IndexAt(From); i < end; ++i)
            count += std::abs(Samples[i]) > Loud;
        return count;
    }

    QString Error;

private:
    static constexpr int ChunkFrames = 128;

    static TClock::duration FramesToDuration(std::size_t Frames)
    {
        return std::chrono::microseconds(std::int64_t(Frames) * 1000000 / Rate);
    }

    // The index of the first sample recorded at or after Time (under Guard).
    std::size_t IndexAt(TClock::time_point Time) const
    {
        if (Samples.empty() || Time <= Origin)
            return 0;
        const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(Time - Origin);
        return std::min(Samples.size(), std::size_t((micros.count() * Rate + 999999) / 1000000));
    }

    // A sample's time is told by its place in the recording: a chunk read
    // late under load cannot make what it holds seem later. The start is
    // taken from the chunk that arrived soonest after it was recorded.
    void Read()
    {
        std::array<std::int16_t, ChunkFrames> chunk;
        while (Running) {
            int error = 0;
            if (pa_simple_read(Stream, chunk.data(), sizeof chunk, &error) < 0)
                return;
            const TClock::time_point arrived = TClock::now();
            std::lock_guard lock(Guard);
            Samples.insert(Samples.end(), chunk.begin(), chunk.end());
            const TClock::time_point start = arrived - FramesToDuration(Samples.size());
            if (Samples.size() == ChunkFrames || start < Origin)
                Origin = start;
        }
    }

    pa_simple* Stream = nullptr;
    std::atomic<bool> Running = false;
    std::thread Reader;
    mutable std::mutex Guard;
    std::vector<std::int16_t> Samples;
    TClock::time_point Origin;
};
