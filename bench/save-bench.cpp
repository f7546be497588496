// save-bench: what saving a 6000 x 4000 photo costs in each format. "QtWriter" is
// Qt's writer with the settings the program used before it encoded through
// the formats' libraries itself, "Ours" the writer the program and
// tavrin-render use now (WriteImageFile), both into a file in the temporary
// folder. Reports each file's size; one iteration each, since a lossless
// WebP takes seconds.
#include <benchmark/benchmark.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>

#include "ImageFiles.h"
#include "Synthetic.h"

namespace {

const tavrin::TWin& Picture()
{
    static const tavrin::TWin picture = PhotoLikePicture(6000, 4000);
    return picture;
}

QString Target(const char* Name, const char* Extension)
{
    return QDir::temp().filePath(QStringLiteral("tavrin-save-bench-%1.%2").arg(Name, Extension));
}

void QtWriter(benchmark::State& State, const char* Extension)
{
    const tavrin::TWin& picture = Picture();
    const QString file = Target("qt", Extension);
    for (auto _ : State) {
        QImage view(picture.Bits, picture.Width(), picture.Height(), qsizetype(picture.Stride),
                    QImage::Format_BGR888);
        QImageWriter writer(file);
        const QByteArray extension(Extension);
        if (extension == "jpg")
            writer.setQuality(92);
        else if (extension == "webp")
            writer.setQuality(100);
        else if (extension == "tif")
            writer.setCompression(1);
        if (!writer.write(view))
            State.SkipWithError("Qt's writer failed");
    }
    State.counters["MB"] = double(QFileInfo(file).size()) / 1e6;
    QFile::remove(file);
}

void Ours(benchmark::State& State, const char* Extension)
{
    const QString file = Target("ours", Extension);
    for (auto _ : State)
        tavrin::WriteImageFile(Picture(), file);
    State.counters["MB"] = double(QFileInfo(file).size()) / 1e6;
    QFile::remove(file);
}

} // namespace

#define SAVE_BENCH(Format, Extension)                                                              \
    BENCHMARK_CAPTURE(QtWriter, Format, Extension)->Unit(benchmark::kMillisecond)->Iterations(1);        \
    BENCHMARK_CAPTURE(Ours, Format, Extension)->Unit(benchmark::kMillisecond)->Iterations(1)

SAVE_BENCH(png, "png");
SAVE_BENCH(jpeg, "jpg");
SAVE_BENCH(webp, "webp");
SAVE_BENCH(tiff, "tif");

BENCHMARK_MAIN();
