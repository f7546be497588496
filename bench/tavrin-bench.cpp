// tavrin-bench: one full render of a synthetic picture at three sizes and
// five slider settings, the defining pipeline beside it, and one memcpy of a
// frame of each size. Every render also reports "ratio": its time over the
// time of one memcpy of its frame, measured when the program starts. Both
// are timed in the thread's processor time, which other work on a shared
// machine disturbs less than the wall clock.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "Reference.h"
#include "Render.h"
#include "SweepExport.h"
#include "Synthetic.h"
#include "TWin.h"

namespace {

using tavrin::SliderPositions;
using tavrin::TWin;

struct FrameSize {
    int Width;
    int Height;
};

const std::vector<FrameSize> DefaultSizes = {{640, 480}, {1920, 1080}, {4000, 3000}};

// Slider positions in the control panel's order: X-Slice, Y-Slice, Tavrin X,
// Tavrin Y, Lock X-Y, X Position, Y Position, Angle.
struct Setting {
    const char* Letter;
    SliderPositions Positions;
};

const Setting Settings[] = {
    {"a", {{1, 0, 0, 0, 0, 0, 0, 0}}},    // start positions
    {"b", {{1, 0, 0, 0, 0, 0, 0, 37}}},   // turned
    {"c", {{4, 4, 0, 0, 0, 0, 0, 37}}},   // turned, 4 x 4 tiled
    {"d", {{30, 30, 1, 1, 0, 0, 0, 37}}}, // turned, 30 x 30 reflected both ways
    {"e", {{30, 30, 0, 0, 1, 0, 0, 37}}}, // turned, 30 x 30 locked
};

std::string SizeName(FrameSize Size)
{
    return std::to_string(Size.Width) + "x" + std::to_string(Size.Height);
}

double ThreadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// The median of a few copies of one frame, between buffers already in use.
double MemcpySeconds(std::size_t Bytes)
{
    std::vector<std::uint8_t> from(Bytes, 1), to(Bytes, 2);
    std::vector<double> times;
    for (int i = 0; i < 21; ++i) {
        const double start = ThreadSeconds();
        std::memcpy(to.data(), from.data(), Bytes);
        benchmark::ClobberMemory();
        times.push_back(ThreadSeconds() - start);
    }
    std::nth_element(times.begin(), times.begin() + 10, times.end());
    return times[10];
}

void Memcpy(benchmark::State& State, std::size_t Bytes, double Reference)
{
    std::vector<std::uint8_t> from(Bytes, 1), to(Bytes, 2);
    const double start = ThreadSeconds();
    for (auto _ : State) {
        std::memcpy(to.data(), from.data(), Bytes);
        benchmark::ClobberMemory();
    }
    const double each = (ThreadSeconds() - start) / double(State.iterations());
    State.counters["ratio"] = each / Reference;
    State.SetBytesProcessed(std::int64_t(State.iterations()) * std::int64_t(Bytes));
}

using RenderFunction = void (*)(const TWin&, TWin&, const SliderPositions&);

void RenderFrame(benchmark::State& State, RenderFunction Function, FrameSize Size,
                 SliderPositions Positions, double Reference)
{
    const TWin source = SyntheticPicture(Size.Width, Size.Height);
    TWin output(Size.Width, Size.Height);
    const double start = ThreadSeconds();
    for (auto _ : State) {
        Function(source, output, Positions);
        benchmark::DoNotOptimize(output.Bits);
        benchmark::ClobberMemory();
    }
    const double each = (ThreadSeconds() - start) / double(State.iterations());
    State.counters["ratio"] = each / Reference;
}

double WallSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + 1e-9 * double(now.tv_nsec);
}

// Smooth colour gradients with a little grain, as a photo has: far more
// than 256 colours, but not the noise no encoder can shrink.
TWin PhotoLike(FrameSize Size)
{
    TWin picture = SyntheticPicture(Size.Width, Size.Height);
    for (int y = 0; y < Size.Height; ++y)
        for (int x = 0; x < Size.Width; ++x) {
            std::uint8_t* p = picture.Row(y) + 3 * x;
            p[0] = std::uint8_t(255 * x / Size.Width + p[0] % 9);
            p[1] = std::uint8_t(255 * y / Size.Height + p[1] % 9);
            p[2] = std::uint8_t((x - y) * (x + y) / 997 + p[2] % 9);
        }
    return picture;
}

// A whole 360-frame angle sweep of a 640 x 480 picture into one file, and the
// same 360 renders alone: "fps" is frames a second of the export, "render"
// the share of its time that the renders take.
void SweepExport(benchmark::State& State, const char* Extension)
{
    const FrameSize size{640, 480};
    const TWin source = PhotoLike(size);
    TWin output(size.Width, size.Height);
    tavrin::TSweepExport settings;
    settings.Sweep = {tavrin::Slider::Angle, 0, 359, 1};
    const std::string file =
        (std::filesystem::temp_directory_path() / (std::string("tavrin-bench-sweep") + Extension))
            .string();
    double exporting = 0, rendering = 0;
    for (auto _ : State) {
        // The wall clock: the export renders ahead on a second thread.
        double start = WallSeconds();
        tavrin::ExportSweep(source, output, settings, file, {});
        exporting += WallSeconds() - start;
        start = ThreadSeconds();
        for (std::int64_t i = 0; i < 360; ++i) {
            tavrin::Render(source, output, tavrin::SweepFrame(settings.Sweep, settings.Base, i));
            benchmark::ClobberMemory();
        }
        rendering += ThreadSeconds() - start;
    }
    State.counters["fps"] = 360.0 * double(State.iterations()) / exporting;
    State.counters["render"] = rendering / exporting;
    State.counters["bytes"] = double(std::filesystem::file_size(file));
    std::filesystem::remove(file);
}

// A 60-frame angle sweep of a photo-like picture into a video, timed on the
// wall clock (the encoder is another process), beside the same frames as
// raw bytes in a file that ffmpeg encodes by itself with the same command
// line: "ratio" is the export's time over ffmpeg's, "render" the share of
// the export's time that the renders alone take on one core.
void VideoExport(benchmark::State& State, FrameSize Size, tavrin::TVideoCodec Codec)
{
    const TWin source = PhotoLike(Size);
    TWin output(Size.Width, Size.Height);
    tavrin::TSweepExport settings;
    settings.Sweep = {tavrin::Slider::Angle, 0, 59, 1};
    settings.Base[tavrin::Slider::XSlice] = 3;
    const auto folder = std::filesystem::temp_directory_path();
    const std::string extension = Codec == tavrin::TVideoCodec::H264 ? ".mp4" : ".webm";
    const std::string file = (folder / ("tavrin-bench-video" + extension)).string();
    const std::string raw = (folder / "tavrin-bench-video.raw").string();
    // The raw frames, rows without padding, as the export sends them.
    double rendering = 0;
    {
        std::FILE* out = std::fopen(raw.c_str(), "wb");
        for (std::int64_t i = 0; i < 60; ++i) {
            const double start = ThreadSeconds();
            tavrin::Render(source, output, tavrin::SweepFrame(settings.Sweep, settings.Base, i));
            rendering += ThreadSeconds() - start;
            for (int y = 0; y < Size.Height; ++y)
                std::fwrite(output.Row(y), 3, std::size_t(Size.Width), out);
        }
        std::fclose(out);
    }
    std::string command;
    for (std::string arg :
         tavrin::FfmpegArguments(Size.Width, Size.Height, settings.Options, Codec, file)) {
        if (arg == "-")
            arg = raw;
        command += "'" + arg + "' ";
    }
    double exporting = 0, alone = 0;
    for (auto _ : State) {
        double start = WallSeconds();
        tavrin::ExportSweep(source, output, settings, file, {});
        exporting += WallSeconds() - start;
        start = WallSeconds();
        if (std::system(command.c_str()) != 0)
            State.SkipWithError("ffmpeg failed");
        alone += WallSeconds() - start;
    }
    State.counters["fps"] = 60.0 * double(State.iterations()) / exporting;
    State.counters["ratio"] = exporting / alone;
    State.counters["render"] = rendering * double(State.iterations()) / exporting;
    State.counters["bytes"] = double(std::filesystem::file_size(file));
    std::filesystem::remove(file);
    std::filesystem::remove(raw);
}

void RegisterAll(const std::vector<FrameSize>& Sizes)
{
    for (const FrameSize size : {FrameSize{640, 480}, FrameSize{1920, 1080}})
        for (const auto codec : {tavrin::TVideoCodec::H264, tavrin::TVideoCodec::VP9})
            benchmark::RegisterBenchmark(
                ((codec == tavrin::TVideoCodec::H264 ? "Sweep.mp4/" : "Sweep.webm/") +
                 SizeName(size))
                    .c_str(),
                VideoExport, size, codec)
                ->Unit(benchmark::kSecond)
                ->Iterations(1)
                ->UseRealTime();
    for (const char* extension : {".webp", ".gif"})
        benchmark::RegisterBenchmark((std::string("Sweep") + extension + "/640x480").c_str(),
                                     SweepExport, extension)
            ->Unit(benchmark::kSecond)
            ->Iterations(1);
    for (const FrameSize size : Sizes) {
        const std::size_t bytes = TWin(size.Width, size.Height).ByteCount();
        const double reference = MemcpySeconds(bytes);
        benchmark::RegisterBenchmark(("Memcpy/" + SizeName(size)).c_str(), Memcpy, bytes, reference)
            ->Unit(benchmark::kMillisecond);
        for (const Setting& setting : Settings) {
            const std::string name = std::string(setting.Letter) + "/" + SizeName(size);
            benchmark::RegisterBenchmark(("Render/" + name).c_str(), RenderFrame,
                                         RenderFunction(&tavrin::Render), size, setting.Positions,
                                         reference)
                ->Unit(benchmark::kMillisecond);
            // Seconds a frame at the largest size: the runner then stops after
            // one or two iterations by itself.
            benchmark::RegisterBenchmark(("Literal/" + name).c_str(), RenderFrame,
                                         RenderFunction(&tavrin::reference::Render), size,
                                         setting.Positions, reference)
                ->Unit(benchmark::kMillisecond);
        }
    }
}

} // namespace

// "--sizes=WxH,WxH..." replaces the three frame sizes; it is taken out of
// the arguments before the benchmark library reads them. False when malformed.
bool TakeSizes(int& Argc, char** Argv, std::vector<FrameSize>& Sizes)
{
    const std::string option = "--sizes=";
    for (int i = 1; i < Argc; ++i) {
        const std::string argument = Argv[i];
        if (argument.rfind(option, 0) != 0)
            continue;
        Sizes.clear();
        std::istringstream list(argument.substr(option.size()));
        for (std::string item; std::getline(list, item, ',');) {
            FrameSize size{};
            char x = 0;
            std::istringstream in(item);
            if (!(in >> size.Width >> x >> size.Height) || x != 'x' || !in.eof() || size.Width < 1 ||
                size.Height < 1 || size.Width > TWin::MaxSide || size.Height > TWin::MaxSide)
                return false;
            Sizes.push_back(size);
        }
        std::copy(Argv + i + 1, Argv + Argc, Argv + i);
        --Argc;
        return !Sizes.empty();
    }
    return true;
}

int main(int argc, char** argv)
{
    std::vector<FrameSize> sizes = DefaultSizes;
    if (!TakeSizes(argc, argv, sizes)) {
        std::fprintf(stderr, "tavrin-bench: --sizes takes WxH[,WxH...], for example 8000x6000\n");
        return 2;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RegisterAll(sizes);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
