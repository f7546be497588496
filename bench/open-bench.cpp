// open-bench: what opening a 4000 x 3000 photo costs. "Decoder" is Qt's
// reader alone (QImageReader::read into a QImage), "Open" the front end that
// the program and tavrin-render use, from the same file: decoding, the
// conversion rules and the copy into the 24-bit surface. Open reports
// "ratio": its time over the decoder's, both in the thread's processor time.
#include <benchmark/benchmark.h>

#include <QDir>
#include <QImage>
#include <QImageReader>

#include <cstdint>
#include <ctime>
#include <map>
#include <string>

#include "ImageFiles.h"
#include "Synthetic.h"

namespace {

constexpr int Width = 4000;
constexpr int Height = 3000;

double ThreadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

const QString& Folder()
{
    static const QString folder = [] {
        const QString path = QDir::temp().filePath(QStringLiteral("tavrin-open-bench"));
        QDir().mkpath(path);
        const tavrin::TWin picture = PhotoLikePicture(Width, Height);
        for (const char* extension : {"jpg", "png"})
            tavrin::WriteImageFile(picture, path + QStringLiteral("/photo.") + extension);
        return path;
    }();
    return folder;
}

std::map<std::string, double> DecoderSeconds;

void Decoder(benchmark::State& State, const char* Extension)
{
    const QString file = Folder() + QStringLiteral("/photo.") + Extension;
    const double start = ThreadSeconds();
    for (auto _ : State) {
        QImageReader reader(file);
        QImage image;
        if (!reader.read(&image))
            State.SkipWithError("the decoder failed");
        benchmark::DoNotOptimize(image.constBits());
    }
    DecoderSeconds[Extension] = (ThreadSeconds() - start) / double(State.iterations());
}

void Open(benchmark::State& State, const char* Extension)
{
    const QString file = Folder() + QStringLiteral("/photo.") + Extension;
    const double start = ThreadSeconds();
    for (auto _ : State) {
        const tavrin::TWin image = tavrin::ReadImageFile(file);
        benchmark::DoNotOptimize(image.Bits);
    }
    const double each = (ThreadSeconds() - start) / double(State.iterations());
    if (DecoderSeconds.count(Extension))
        State.counters["ratio"] = each / DecoderSeconds[Extension];
}

} // namespace

BENCHMARK_CAPTURE(Decoder, jpeg, "jpg")->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK_CAPTURE(Open, jpeg, "jpg")->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK_CAPTURE(Decoder, png, "png")->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK_CAPTURE(Open, png, "png")->Unit(benchmark::kMillisecond)->MinTime(2);

BENCHMARK_MAIN();
