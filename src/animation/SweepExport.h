// A slider sweep rendered frame by frame into an animated WebP, an animated
// GIF or numbered stills, chosen by the file name.
#pragma once

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

// Throws SurfaceError, naming what Tavrin writes, for a name that is
// neither a frame-number pattern, nor .webp, nor .gif, for a folder that
// is not there, and for options out of range or a sweep of too many frames.
void CheckExport(const TSweepExport& Export, const std::string& FileName);

// About how many bytes the export writes: every frame is taken to cost what
// the first one costs encoded alone (a bitmap's size for stills). Checks
// the export first, so that nothing is encoded for one that cannot be.
std::uint64_t EstimateExportBytes(const TWin& Source, const TSweepExport& Export,
                                  const std::string& FileName);

// Called after each frame, with Output holding it; false cancels.
using TExportProgress = std::function<bool(std::int64_t Done, std::int64_t Total)>;

// Renders every frame of the sweep into Output, which has the size of the
// frames, and streams it to FileName. True when the file is complete; false
// when cancelled. A cancelled or failed export (SurfaceError) leaves no new
// file and every old one as it was.
bool ExportSweep(const TWin& Source, TWin& Output, const TSweepExport& Export,
                 const std::string& FileName, const TExportProgress& Progress,
                 const TStillWriter& WriteStill = WriteBitmapStill);

} // namespace tavrin
