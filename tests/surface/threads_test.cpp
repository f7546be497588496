// The number of threads changes no byte: renders large enough to run on
// every core, with and without slices, whole and in parts, the zoomed view's
// downscale, and an exported sweep, each made on one, two and three threads.
#include <gtest/gtest.h>
#include <omp.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <unistd.h>

#include "Downscale.h"
#include "LazyOutput.h"
#include "Reference.h"
#include "Render.h"
#include "SweepExport.h"
#include "TestImages.h"

namespace tavrin {
namespace {

// Runs Make with 1, 2 and 3 threads and returns the three results.
template <class TMake> auto OnThreadCounts(TMake Make)
{
    std::vector<decltype(Make())> results;
    for (int threads : {1, 2, 3}) {
        omp_set_num_threads(threads);
        results.push_back(Make());
    }
    omp_set_num_threads(omp_get_num_procs());
    return results;
}

std::string FileBytes(const std::filesystem::path& Name)
{
    std::ifstream in(Name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(Threads, RenderAndDownscaleAreTheSameOnAnyNumberOfThreads)
{
    std::mt19937 random(2121);
    const auto uniform = [&](int Low, int High) { return std::uniform_int_distribution<int>(Low, High)(random); };
    for (int round = 0; round < 4; ++round) {
        // Past the size where the loops go parallel.
        const int width = uniform(1500, 1900), height = uniform(1400, 1700);
        const TWin source = test::RandomPicture(width, height, std::uint32_t(round));
        SliderPositions p;
        p[Slider::Angle] = uniform(0, 360);
        p[Slider::XPosition] = uniform(-200, 200);
        p[Slider::YPosition] = uniform(-200, 200);
        if (round % 3 != 0) { // slices, reflected or tiled
            p[Slider::XSlice] = uniform(1, 30);
            p[Slider::YSlice] = uniform(0, 30);
            p[Slider::TavrinX] = uniform(0, 1);
            p[Slider::TavrinY] = uniform(0, 1);
            p[Slider::LockXY] = uniform(0, 1);
        }
        const auto outputs = OnThreadCounts([&] {
            TWin output(width, height);
            Render(source, output, p);
            return output;
        });
        // The canvas's road: parts drawn a row of tiles per thread.
        const auto lazy = OnThreadCounts([&] {
            TWin output(width, height);
            TLazyOutput parts;
            parts.SetPositions(width, height, p);
            parts.Ensure(source, output, TRect{0, 0, width, height / 2});
            parts.Ensure(source, output, TRect{0, 0, width, height});
            return output;
        });
        TWin expected(width, height);
        reference::Render(source, expected, p);
        for (const TWin& output : outputs)
            ASSERT_TRUE(test::SamePixels(output, expected)) << "round " << round;
        for (const TWin& output : lazy)
            ASSERT_TRUE(test::SamePixels(output, expected)) << "round " << round;

        const int viewWidth = uniform(1, width), viewHeight = uniform(1, height);
        const auto views = OnThreadCounts([&] {
            TWin view(viewWidth, viewHeight);
            AreaDownscale(expected, view);
            return view;
        });
        for (const TWin& view : views)
            ASSERT_TRUE(test::SamePixels(view, views[0])) << "round " << round;
    }
}

TEST(Threads, SweepIsTheSameOnAnyNumberOfThreads)
{
    const TWin source = test::RandomPicture(1800, 1200, 77);
    const auto folder = std::filesystem::temp_directory_path() / ("threads-test-" + std::to_string(getpid()));
    TSweepExport sweep;
    sweep.Sweep = TSweep{Slider::Angle, 10, 40, 15};
    sweep.Base[Slider::XSlice] = 5;
    sweep.Base[Slider::TavrinY] = 1;
    int run = 0;
    const auto files = OnThreadCounts([&] {
        const auto name = folder / std::to_string(++run) / "f-%d.bmp";
        std::filesystem::create_directories(name.parent_path());
        TWin output(source.Width(), source.Height());
        EXPECT_TRUE(ExportSweep(source, output, sweep, name.string(), [](std::int64_t, std::int64_t) { return true; }));
        std::vector<std::string> frames;
        for (int frame = 1; frame <= 3; ++frame)
            frames.push_back(FileBytes(name.parent_path() / ("f-" + std::to_string(frame) + ".bmp")));
        // The animations too, fitted to a size for sharing.
        TSweepExport shared = sweep;
        shared.Options.Size = 640;
        for (const char* animation : {"a.webp", "a.gif"}) {
            const auto file = name.parent_path() / animation;
            EXPECT_TRUE(ExportSweep(source, output, shared, file.string(), {}));
            frames.push_back(FileBytes(file));
        }
        return frames;
    });
    std::filesystem::remove_all(folder);
    ASSERT_EQ(files[0].size(), 5u);
    EXPECT_GT(files[0][2].size(), 1800u * 1200u * 3u);
    EXPECT_EQ(files[0], files[1]);
    EXPECT_EQ(files[0], files[2]);
}

} // namespace
} // namespace tavrin
