#include "SweepExport.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

#include "RenderAhead.h"
#include "SaveFile.h"
#include "SurfaceError.h"

namespace tavrin {
namespace {

enum class TFormat { WebP, Gif, Mp4, WebM, Stills };

bool EndsWith(const std::string& FileName, const std::string& Extension)
{
    if (FileName.size() < Extension.size())
        return false;
    return std::equal(Extension.begin(), Extension.end(), FileName.end() - Extension.size(),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

TFormat FormatOf(const std::string& FileName)
{
    if (FindFramePattern(FileName))
        return TFormat::Stills;
    if (EndsWith(FileName, ".webp"))
        return TFormat::WebP;
    if (EndsWith(FileName, ".gif"))
        return TFormat::Gif;
    if (EndsWith(FileName, ".mp4"))
        return TFormat::Mp4;
    if (EndsWith(FileName, ".webm"))
        return TFormat::WebM;
    throw SurfaceError("Cannot write an animation to " + FileName +
                       ": give a name ending in .webp, .gif, .mp4 or .webm, or one with a "
                       "frame number such as frame-%04d.png");
}

// The writer of FileName's format; File, when the format is one file, is
// where it goes.
std::unique_ptr<TFrameWriter> MakeWriter(const std::string& FileName, TFrameSize Size,
                                         const TAnimationOptions& Options,
                                         std::optional<TSaveFile>& File,
                                         const TStillWriter& WriteStill)
{
    const TFormat format = FormatOf(FileName);
    if (format == TFormat::Stills)
        return MakeStillWriter(*FindFramePattern(FileName), WriteStill);
    if (format == TFormat::Mp4 || format == TFormat::WebM) {
        // Before the file: without ffmpeg nothing at all is made.
        if (FindFfmpeg().empty())
            throw SurfaceError(MissingFfmpegMessage);
        File.emplace(FileName);
        return MakeVideoWriter(Size.Width, Size.Height, Options,
                               format == TFormat::Mp4 ? TVideoCodec::H264 : TVideoCodec::VP9,
                               File->TemporaryName());
    }
    File.emplace(FileName);
    const TPut put = [&File](const std::uint8_t* Data, std::size_t Size) {
        File->Write(Data, Size);
    };
    if (format == TFormat::Gif)
        return MakeGifWriter(Size.Width, Size.Height, Options, put);
    const TPatch patch = [&File](std::uint64_t Offset, const std::uint8_t* Data, std::size_t Size) {
        File->Overwrite(Offset, Data, Size);
    };
    return MakeWebPWriter(Size.Width, Size.Height, Options, put, patch);
}

// The folder must be there and the name must be one a file can have.
void CheckPlace(const std::string& FileName)
{
    const std::size_t slash = FileName.rfind('/');
    const std::string name = slash == std::string::npos ? FileName : FileName.substr(slash + 1);
    if (name.empty() || name == "." || name == ".." || name.size() > NAME_MAX)
        throw SurfaceError("Cannot write " + FileName + ": that is not a file name");
    const std::string folder = slash == std::string::npos ? "." : FileName.substr(0, slash + 1);
    struct stat place;
    if (stat(folder.c_str(), &place) != 0 || !S_ISDIR(place.st_mode))
        throw SurfaceError("Cannot write " + FileName + ": there is no folder " + folder);
}

// The first Frames frames of the sweep.
TSweep FirstFrames(TSweep Sweep, std::int64_t Frames)
{
    const std::int64_t moved = (Frames - 1) * Sweep.Step;
    Sweep.To = Sweep.To >= Sweep.From ? Sweep.From + moved : Sweep.From - moved;
    return Sweep;
}

} // namespace

void CheckExport(const TSweepExport& Export, const std::string& FileName)
{
    FormatOf(FileName);
    CheckPlace(FileName);
    SweepFrameCount(Export.Sweep);
    if (Export.Options.Fps < 1 || Export.Options.Fps > 100)
        throw SurfaceError("The frame rate must be 1 to 100 frames a second");
    if (Export.Options.Quality && (*Export.Options.Quality < 1 || *Export.Options.Quality > 100))
        throw SurfaceError("The quality must be 1 to 100");
    if (Export.Options.Size != 0 &&
        (Export.Options.Size < MinExportSize || Export.Options.Size > TWin::MaxSide))
        throw SurfaceError("The size must be " + std::to_string(MinExportSize) + " to " +
                           std::to_string(TWin::MaxSide) + " pixels, or full size");
}

TFrameSize ExportFrameSize(std::int32_t Width, std::int32_t Height, int Size)
{
    const std::int32_t longer = std::max(Width, Height);
    if (Size == 0 || longer <= Size)
        return {Width, Height};
    // Rounded to the nearest pixel, and never below one.
    const auto fit = [&](std::int32_t Side) {
        return std::max<std::int32_t>(1, std::int32_t((std::int64_t(Side) * Size * 2 + longer) /
                                                      (2 * std::int64_t(longer))));
    };
    return {fit(Width), fit(Height)};
}

std::uint64_t ExportBitmapBytes(const TWin& Source, const TSweepExport& Export)
{
    const TFrameSize size = ExportFrameSize(Source.Width(), Source.Height(), Export.Options.Size);
    return std::uint64_t(SweepFrameCount(Export.Sweep)) *
           (54 + std::uint64_t(StrideFor(size.Width)) * std::uint64_t(size.Height));
}

TExportEstimate EstimateExport(const TWin& Source, const TSweepExport& Export,
                               const std::string& FileName, const std::atomic<bool>* Cancel)
{
    CheckExport(Export, FileName);
    const TFormat format = FormatOf(FileName);
    const std::int64_t frames = SweepFrameCount(Export.Sweep);
    // A video's first frame stands alone and costs far more than the rest.
    const std::int64_t sample =
        std::min<std::int64_t>(frames, format == TFormat::Mp4 || format == TFormat::WebM ? 8 : 1);
    TSweepExport first = Export;
    first.Sweep = FirstFrames(Export.Sweep, sample);
    namespace fs = std::filesystem;
    std::string folder = (fs::temp_directory_path() / "tavrin-estimate-XXXXXX").string();
    if (!mkdtemp(folder.data()))
        throw SurfaceError("Cannot create a temporary folder to estimate the export in");
    std::uint64_t bytes = 0;
    const auto started = std::chrono::steady_clock::now();
    try {
        const std::string extension = format == TFormat::Stills ? "-%d.bmp"
                                      : format == TFormat::WebP ? ".webp"
                                      : format == TFormat::Gif  ? ".gif"
                                      : format == TFormat::Mp4  ? ".mp4"
                                                                : ".webm";
        TWin output(Source.Width(), Source.Height());
        const auto going = [Cancel](std::int64_t, std::int64_t) { return !Cancel || !*Cancel; };
        if (!ExportSweep(Source, output, first, folder + "/sample" + extension, going))
            throw SurfaceError("The estimate was cancelled");
        for (const auto& entry : fs::directory_iterator(folder))
            bytes += entry.file_size();
    } catch (...) {
        fs::remove_all(folder);
        throw;
    }
    fs::remove_all(folder);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const double scale = double(frames) / double(sample);
    return {std::uint64_t(double(bytes) * scale + 0.5), seconds * scale};
}

std::string MinutesAndSeconds(double Seconds)
{
    const auto whole = std::int64_t(std::max(0.0, Seconds) + 0.5);
    const std::string seconds = std::to_string(whole % 60);
    return std::to_string(whole / 60) + (seconds.size() < 2 ? ":0" : ":") + seconds;
}

std::uint64_t EstimateExportBytes(const TWin& Source, const TSweepExport& Export,
                                  const std::string& FileName)
{
    return EstimateExport(Source, Export, FileName).Bytes;
}

bool ExportSweep(const TWin& Source, TWin& Output, const TSweepExport& Export,
                 const std::string& FileName, const TExportProgress& Progress,
                 const TStillWriter& WriteStill)
{
    CheckExport(Export, FileName);
    const std::int64_t total = SweepFrameCount(Export.Sweep);
    const std::int32_t width = Source.Width(), height = Source.Height();
    const TFrameSize size = ExportFrameSize(width, height, Export.Options.Size);
    // Destroyed in reverse: the renders stop, then the writer, then the file.
    std::optional<TSaveFile> file;
    const std::unique_ptr<TFrameWriter> writer =
        MakeWriter(FileName, size, Export.Options, file, WriteStill);
    TRenderAhead frames(Source, Export.Sweep, Export.Base, size.Width, size.Height);
    for (std::int64_t i = 0; i < total; ++i) {
        const TAheadFrame& frame = frames.Next();
        if (Output.Width() != width || Output.Height() != height)
            throw SurfaceError("The picture changed size during the export");
        // Output shows the frame being encoded.
        std::memcpy(Output.Bits, frame.Full.Bits, Output.ByteCount());
        writer->Add(frame.Scaled.Empty() ? frame.Full : frame.Scaled);
        if (Progress && !Progress(i + 1, total))
            return false;
    }
    writer->Finish();
    if (file)
        file->Commit();
    return true;
}

} // namespace tavrin
