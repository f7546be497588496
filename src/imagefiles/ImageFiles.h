// Image files of every format the program opens and saves. Bitmaps keep the
// engine's own reader and writer; other formats go through Qt's image
// readers and writers (HEIC and AVIF through libheif) and arrive as the same
// 24-bit surface:
//   - an EXIF orientation is applied, so a portrait photo stands upright;
//   - an image with a colour profile is converted to sRGB;
//   - transparency is composited over black, the render's background:
//     each channel becomes round(colour x alpha / full scale);
//   - 16-bit channels are rounded to the nearest 8-bit value (v / 257);
//   - grey and palette images are expanded to colour;
//   - an animation or a multi-page file opens at its first frame.
// Sizes past the surface's limits, and files whose decoding would take more
// memory than OpeningBudget, are refused from what their header announces,
// before any pixel memory is allocated.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SaveFile.h"
#include "TWin.h"

namespace tavrin {

// The most memory opening one file may take at any moment: the file's bytes,
// every buffer of the decoder and the surface together.
constexpr std::uint64_t OpeningBudget = std::uint64_t(2) << 30;

// What decoding a file takes, from its header: the largest picture the
// decoder makes (a GIF's canvas, say), and the memory it peaks at.
struct TReach {
    std::int64_t Width = 0;
    std::int64_t Height = 0;
    std::uint64_t Bytes = 0;
};

// The reach of the file Data, as the size checks before decoding compute
// it; nothing when its header does not tell.
std::optional<TReach> ReachOf(const QByteArray& Data);

// True when the size checks admit a file of this reach: within the
// surface's limits and OpeningBudget.
bool Admits(const TReach& Reach);

// Reads FileName by its content, never by its extension. Throws SurfaceError
// with a message that names the file and says what is wrong.
TWin ReadImageFile(const QString& FileName);

// The same for a file's bytes in memory; Name only appears in messages.
TWin DecodeImage(const QByteArray& Data, const QString& Name);

// A first look at a large photo before it is decoded whole.
struct TPreview {
    TWin Reduced;        // the picture at a fraction of its size
    std::int32_t Width;  // the picture's full size
    std::int32_t Height;
};

// A plain JPEG decoded by libjpeg-turbo's DCT scaling, at the smallest of
// 1/8, 2/8 .. 8/8 that is at least MinWidth x MinHeight. Nothing for any
// other file, one that needs the conversion rules, or one that fails: the
// whole decode then says why. Uses no Qt object, so that it may run on a
// worker thread; FileName is in the file system's encoding.
std::optional<TPreview> ReadJpegPreview(const std::string& FileName, std::int32_t MinWidth,
                                        std::int32_t MinHeight);

// The top-left Width x Height of a picture, handed over while the rest is
// still being decoded, for a first look at actual size.
struct TEarlyPart {
    std::int32_t Width;
    std::int32_t Height;
    std::function<void(TPreview)> Take;
};

// The picture of a plain JPEG file, as ReadImageFile gives it, read without
// any Qt object, for a head start on a worker thread. Nothing for any other
// file or on any error: ReadImageFile then reads it and says why. Early, if
// any, gets its part once those rows are decoded, unless that part would
// reach the picture's last row.
std::optional<TWin> ReadPlainJpeg(const std::string& FileName, const TEarlyPart* Early = nullptr);

// Lets the format choose its own quality.
constexpr int DefaultQuality = -1;

// Writes Image in the format of FileName's extension, in any letter case:
// .bmp is the engine's 24-bit bitmap, .png and .tif/.tiff (LZW) are
// lossless, .jpg/.jpeg have quality 92 unless Quality (1-100) is given,
// .webp is lossless unless Quality is given; every format but the bitmap
// says 100 dpi. The target is replaced only by a complete file; on failure
// SurfaceError is thrown and the old file stays.
void WriteImageFile(const TWin& Image, const QString& FileName, int Quality = DefaultQuality);

// A write running on another thread: how far it is (0 to 1000) and a
// request to stop, between rows.
struct TWriteProgress {
    std::atomic<int> Permille{0};
    std::atomic<bool> Cancel{false};
};

// WriteImageFile in two steps, for a caller that encodes on a worker thread:
// the constructor checks the name and makes the temporary file beside it
// (throwing as WriteImageFile does), Run encodes and puts the file in place.
// Run touches nothing of Qt, only Image and the file.
class TImageWrite {
public:
    TImageWrite(const QString& FileName, int Quality = DefaultQuality);
    ~TImageWrite();
    // False, with the old file as it was, when Progress asked to stop.
    // Runs once.
    bool Run(const TWin& Image, TWriteProgress* Progress = nullptr);

private:
    std::string Name;
    std::string Extension;
    int Quality;
    std::unique_ptr<TSaveFile> File;
};

// A format WriteImageFile writes: its name for people ("PNG") and its
// extensions, lower case without dots, the usual one first.
struct TWritableFormat {
    QString Name;
    QStringList Extensions;
};
std::vector<TWritableFormat> WritableFormats();

// The extensions of every format that can be read, lower case without dots, sorted.
QStringList ReadableExtensions();

} // namespace tavrin
