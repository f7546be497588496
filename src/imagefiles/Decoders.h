// What the readers of the image front end share. Not for use outside it.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include "ImageFiles.h"
#include "TWin.h"

class QIODevice;

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct jpeg_decompress_struct;

namespace tavrin::imagefiles {

// Throws the SurfaceError "Cannot open NAME: WHAT".
[[noreturn]] void Refuse(const QString& Name, const std::string& What);

// Refuses an image of Width x Height pixels that the 24-bit surface cannot hold.
void CheckSize(std::int64_t Width, std::int64_t Height, const QString& Name);

// Refuses a file whose reach is past the surface's limits or OpeningBudget,
// with a message that says what it would need.
void CheckReach(const TReach& Reach, const QString& Name);

// What moving a decoded image of Width x Height pixels into the surface
// adds to its decoder's memory: the surface and one band of rows on its way.
std::uint64_t SurfaceReach(std::int64_t Width, std::int64_t Height);

// True when Head, the first bytes of a file, starts a HEIF file (HEIC, AVIF).
bool LooksLikeHeif(const QByteArray& Head);

// The width and height in luma samples of a coded HEVC picture.
struct TCodedSize {
    std::uint32_t Width;
    std::uint32_t Height;
};

// The coded size each hvcC box of a HEIF file announces, in file order;
// nothing for one whose parameter sets cannot be read.
std::vector<std::optional<TCodedSize>> HevcCodedSizes(const QByteArray& File);

// Refuses a HEIF file any of whose coded HEVC or AV1 pictures or tile layouts
// cannot be read, is past the surface's limits, or is larger than every size
// the file announces: libheif allocates them before it checks them.
void CheckHeifSizes(const QByteArray& File, const QString& Name);

// The reach of a HEIF file, from the largest image size it announces;
// nothing when it announces none.
std::optional<TReach> HeifReach(const QByteArray& File);

// Decodes the primary image of a HEIF file, turned and mirrored as the file
// says, with its colour profile attached; the size is checked before decoding.
QImage DecodeHeif(const QByteArray& Data, const QString& Name);

// Refuses a PNG any of whose chunks before IEND announces more bytes than
// the file has left: libpng allocates a chunk's announced length before it
// reads it, so a few hundred bytes could ask for gigabytes. Other files pass.
void CheckPngChunks(QIODevice& Device, const QString& Name);

// True when Head, the first bytes of a file, starts a PNG of 16-bit colour
// without alpha, which Qt's reader does not always get right.
bool IsDeepColourPng(const QByteArray& Head);

// Decodes such a PNG through libpng; the size is checked before decoding.
QImage DecodeDeepColourPng(QIODevice& Device, const QString& Name);

// True when Head, the first bytes of a file, starts a JPEG file.
bool IsJpeg(const QByteArray& Head);

// The reach of a JPEG file, through whichever decoder takes it; nothing when
// its header cannot be read.
std::optional<TReach> JpegReach(const QByteArray& Data);

// Decodes a JPEG file straight into the surface when Qt's reader would give
// the same pixels unchanged; nothing when the file needs the conversion
// rules (a turn, a colour profile, CMYK). The reach is checked before
// decoding, whichever decoder takes the file.
std::optional<TWin> DecodePlainJpeg(const QByteArray& Data, const QString& Name,
                                    const TEarlyPart* Early = nullptr);

// A first look at a baseline JPEG at Scale/8 of its size (1 or 2), from
// Info's header and the Bytes of its scan that follow it, entropy-decoded
// by two threads, the second from SplitAt bytes in (the middle when 0). It
// keeps the lowest frequencies alone. Split tells whether the second
// thread's part was used; the result is the same either way. Nothing for a
// file of another kind or a damaged one: libjpeg's decode then takes it.
std::optional<TWin> DecodeFirstLook(const jpeg_decompress_struct& Info, const std::uint8_t* Scan,
                                    std::size_t Bytes, int Scale, std::size_t SplitAt = 0,
                                    bool* Split = nullptr);

// The same as DecodePlainJpeg at the smallest DCT scale that gives at least
// MinWidth x MinHeight pixels, for a first look; throws as the whole decode
// does.
std::optional<TPreview> DecodePlainJpegReduced(const QByteArray& Data, const QString& Name,
                                               std::int32_t MinWidth, std::int32_t MinHeight);

} // namespace tavrin::imagefiles
