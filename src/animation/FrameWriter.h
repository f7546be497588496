// The animated formats: frames go in one at a time and the encoded file
// comes out through Put, so that no writer holds the raw frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TWin.h"

namespace tavrin {

struct TAnimationOptions {
    int Fps = 25;               // 1 to 100 frames a second
    std::optional<int> Quality; // 1 to 100: lossy; none: lossless where the format can be
    int Size = 0;               // the longer side at most, from 16; 0: full size
};

// Receives the encoded bytes in order; it must not throw (the encoders are C).
using TPut = std::function<void(const std::uint8_t* Data, std::size_t Size)>;
// Writes bytes again over some already put, from Offset of the file.
using TPatch =
    std::function<void(std::uint64_t Offset, const std::uint8_t* Data, std::size_t Size)>;

class TFrameWriter {
public:
    virtual ~TFrameWriter() = default;
    // Frames are all of the size the writer was made for.
    virtual void Add(const TWin& Frame) = 0;
    // Completes the file; nothing may be added afterwards.
    virtual void Finish() = 0;
};

// An animated WebP that loops forever, written as the frames arrive; Patch
// puts in a frame's duration when the next ones repeat it, and at the end
// the file's size.
std::unique_ptr<TFrameWriter> MakeWebPWriter(std::int32_t Width, std::int32_t Height,
                                             const TAnimationOptions& Options, TPut Put,
                                             TPatch Patch);
// An animated GIF that loops forever, written as the frames arrive.
std::unique_ptr<TFrameWriter> MakeGifWriter(std::int32_t Width, std::int32_t Height,
                                            const TAnimationOptions& Options, TPut Put);

enum class TVideoCodec { H264, VP9 };

// What a video's quality means to its codec: a constant-quality factor.
struct TVideoQuality {
    int Crf;
};
constexpr int DefaultVideoQuality = 65;
TVideoQuality VideoQuality(TVideoCodec Codec, std::optional<int> Quality);

// The ffmpeg program on PATH, looked up now; empty when there is none.
std::string FindFfmpeg();
extern const char* const MissingFfmpegMessage;

// The command line that makes the video from raw frames on standard input.
std::vector<std::string> FfmpegArguments(std::int32_t Width, std::int32_t Height,
                                         const TAnimationOptions& Options, TVideoCodec Codec,
                                         const std::string& Output);

// H.264 in MP4 or VP9 in WebM, made by ffmpeg into the file Output (which
// it overwrites), frames at the options' rate and nothing more. Finish waits
// for ffmpeg; a writer destroyed unfinished ends it at once. ffmpeg's own
// messages are in the error of a failure.
std::unique_ptr<TFrameWriter> MakeVideoWriter(std::int32_t Width, std::int32_t Height,
                                              const TAnimationOptions& Options, TVideoCodec Codec,
                                              const std::string& Output);

} // namespace tavrin
