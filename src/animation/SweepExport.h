// A slider sweep rendered frame by frame into an animated WebP, an animated
// GIF, an MP4 or WebM video or numbered stills, chosen by the file name.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "FrameWriter.h"
#include "Render.h"
#include "StillSequence.h"
#include "Sweep.h"
#include "TWin.h"

namespace tavrin {

struct TSweepExport {
    TSweep Sweep;
    SliderPositions Base; // the seven sliders that stay, and the swept one's start
    TAnimationOptions Options;
};

// Past this an export asks before it writes.
constexpr std::uint64_t LargeExportBytes = std::uint64_t(1) << 30;

// The smallest longer side an export may be fitted to.
constexpr int MinExportSize = 16;

// Throws SurfaceError, naming what Tavrin writes, for a name that is
// neither a frame-number pattern nor .webp, .gif, .mp4 or .webm, for a
// folder that is not there, and for options out of range or a sweep of too
// many frames.
void CheckExport(const TSweepExport& Export, const std::string& FileName);

struct TFrameSize {
    std::int32_t Width;
    std::int32_t Height;
};

// A Width x Height frame fitted within Size pixels on its longer side,
// keeping its shape; as it is when it fits already or Size is 0.
TFrameSize ExportFrameSize(std::int32_t Width, std::int32_t Height, int Size);

// The bytes of the export's frames as bitmaps: no format stores a frame in
// much more, so an export under the large-export limit by this count needs
// no estimate.
std::uint64_t ExportBitmapBytes(const TWin& Source, const TSweepExport& Export);

struct TExportEstimate {
    std::uint64_t Bytes;
    double Seconds;
};

// About what the export writes and how long it takes, from a sample: the
// first frame exported alone (the first eight, for a video, whose first
// frame costs more than the others), into a temporary folder, times the
// frames. Stills are sampled as bitmaps. Checks the export first, so that
// nothing is encoded for one that cannot be. Setting Cancel ends it after
// the frame at hand, with a SurfaceError and no temporary file left.
TExportEstimate EstimateExport(const TWin& Source, const TSweepExport& Export,
                               const std::string& FileName,
                               const std::atomic<bool>* Cancel = nullptr);
std::uint64_t EstimateExportBytes(const TWin& Source, const TSweepExport& Export,
                                  const std::string& FileName);

// "1:07" for 67 seconds, as a progress line shows the time left.
std::string MinutesAndSeconds(double Seconds);

// Called after each frame, with Output holding it; false cancels.
using TExportProgress = std::function<bool(std::int64_t Done, std::int64_t Total)>;

// Renders every frame of the sweep, fits it to the options' size and
// streams it to FileName; Output, of the source's size, shows each frame as
// it is encoded, while the next ones render on another thread. True when the file is complete; false
// when cancelled. A cancelled or failed export (SurfaceError) leaves no new
// file and every old one as it was.
bool ExportSweep(const TWin& Source, TWin& Output, const TSweepExport& Export,
                 const std::string& FileName, const TExportProgress& Progress,
                 const TStillWriter& WriteStill = WriteBitmapStill);

} // namespace tavrin
