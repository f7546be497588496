#include "SweepExport.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <memory>
#include <optional>

#include <sys/stat.h>

#include "SaveFile.h"
#include "SurfaceError.h"

namespace tavrin {
namespace {

enum class TFormat { WebP, Gif, Stills };

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
    throw SurfaceError("Cannot write an animation to " + FileName +
                       ": give a name ending in .webp or .gif, or one with a frame number "
                       "such as frame-%04d.png");
}

std::unique_ptr<TFrameWriter> MakeAnimationWriter(TFormat Format, const TWin& Frame,
                                                  const TAnimationOptions& Options, TPut Put)
{
    return Format == TFormat::WebP ? MakeWebPWriter(Frame.Width(), Frame.Height(), Options, Put)
                                   : MakeGifWriter(Frame.Width(), Frame.Height(), Options, Put);
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
}

std::uint64_t EstimateExportBytes(const TWin& Source, const TSweepExport& Export,
                                  const std::string& FileName)
{
    CheckExport(Export, FileName);
    const TFormat format = FormatOf(FileName);
    const std::uint64_t frames = std::uint64_t(SweepFrameCount(Export.Sweep));
    TWin frame(Source.Width(), Source.Height());
    if (format == TFormat::Stills)
        return frames * (54 + std::uint64_t(frame.Stride) * std::uint64_t(frame.Height()));
    Render(Source, frame, SweepFrame(Export.Sweep, Export.Base, 0));
    std::uint64_t bytes = 0;
    const auto writer = MakeAnimationWriter(
        format, frame, Export.Options, [&](const std::uint8_t*, std::size_t Size) { bytes += Size; });
    writer->Add(frame);
    writer->Finish();
    return frames * bytes;
}

bool ExportSweep(const TWin& Source, TWin& Output, const TSweepExport& Export,
                 const std::string& FileName, const TExportProgress& Progress,
                 const TStillWriter& WriteStill)
{
    CheckExport(Export, FileName);
    const std::int64_t total = SweepFrameCount(Export.Sweep);
    std::optional<TSaveFile> file;
    std::unique_ptr<TFrameWriter> writer;
    if (const auto pattern = FindFramePattern(FileName)) {
        writer = MakeStillWriter(*pattern, WriteStill);
    } else {
        file.emplace(FileName);
        writer = MakeAnimationWriter(FormatOf(FileName), Output, Export.Options,
                                     [&](const std::uint8_t* Data, std::size_t Size) {
                                         file->Write(Data, Size);
                                     });
    }
    const std::int32_t width = Output.Width(), height = Output.Height();
    for (std::int64_t i = 0; i < total; ++i) {
        if (Output.Width() != width || Output.Height() != height)
            throw SurfaceError("The picture changed size during the export");
        Render(Source, Output, SweepFrame(Export.Sweep, Export.Base, i));
        writer->Add(Output);
        if (Progress && !Progress(i + 1, total))
            return false;
    }
    writer->Finish();
    if (file)
        file->Commit();
    return true;
}

} // namespace tavrin
