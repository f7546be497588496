// Numbered stills: one file per frame, named by a printf-style pattern such
// as "frame-%04d.png", the first frame numbered 1.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "FrameWriter.h"
#include "TWin.h"

namespace tavrin {

struct TFramePattern {
    std::string Folder; // with its final '/', or empty for the current folder
    std::string Before;
    std::string After;
    int Width = 0;      // digits at least
    bool Zeros = false; // padded with zeros rather than spaces
};

// The frame number in the last part of FileName: one %d with an optional 0
// flag and width; %% stands for a % sign. Nothing when the name has no %.
// Throws SurfaceError for any other use of %.
std::optional<TFramePattern> FindFramePattern(const std::string& FileName);

// The file of frame Number.
std::string FrameFileName(const TFramePattern& Pattern, std::int64_t Number);

// Writes one still; the format follows the name's extension.
using TStillWriter = std::function<void(const TWin& Frame, const std::string& FileName)>;

// Stills as 24-bit bitmaps; any other extension is refused.
void WriteBitmapStill(const TWin& Frame, const std::string& FileName);

// The stills go into a hidden folder beside their targets and move into
// place only when Finish runs, so that an abandoned sequence leaves none
// of its files behind and every older file as it was.
std::unique_ptr<TFrameWriter> MakeStillWriter(const TFramePattern& Pattern,
                                              TStillWriter WriteStill);

} // namespace tavrin
