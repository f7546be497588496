#include "ImageFiles.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <algorithm>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "BitmapFile.h"
#include "Decoders.h"

namespace tavrin {

namespace imagefiles {

void Refuse(const QString& Name, const std::string& What)
{
    throw SurfaceError("Cannot open " + Name.toStdString() + ": " + What);
}

void CheckSize(std::int64_t Width, std::int64_t Height, const QString& Name)
{
    const std::string size = std::to_string(Width) + " x " + std::to_string(Height);
    if (Width <= 0 || Height <= 0)
        Refuse(Name, "the image has no pixels");
    if (Width > TWin::MaxSide || Height > TWin::MaxSide)
        Refuse(Name, "the image of " + size + " pixels is larger than " +
                         std::to_string(TWin::MaxSide) + " pixels a side");
    if (std::uint64_t(StrideFor(std::int32_t(Width))) * std::uint64_t(Height) > TWin::MaxBytes)
        Refuse(Name, "the image of " + size + " pixels needs more than 1 GiB of memory");
}

// Rows converted at a time on the way into the surface.
constexpr int BandRows = 64;

std::uint64_t SurfaceReach(std::int64_t Width, std::int64_t Height)
{
    // A band is copied, then widened to at most 8 bytes a pixel.
    const std::uint64_t band = std::uint64_t(BandRows) * std::uint64_t(Width) * (8 + 8);
    return std::uint64_t(StrideFor(std::int32_t(Width))) * std::uint64_t(Height) + band;
}

void CheckReach(const TReach& Reach, const QString& Name)
{
    if (Admits(Reach))
        return;
    CheckSize(Reach.Width, Reach.Height, Name);
    Refuse(Name, "the image of " + std::to_string(Reach.Width) + " x " +
                     std::to_string(Reach.Height) + " pixels needs " +
                     std::to_string((Reach.Bytes + (1 << 20) - 1) >> 20) +
                     " MiB of memory to open, more than the " +
                     std::to_string(OpeningBudget >> 20) + " MiB Tavrin allows");
}

} // namespace imagefiles

namespace {

using imagefiles::BandRows;
using imagefiles::CheckReach;
using imagefiles::SurfaceReach;
using imagefiles::Refuse;

// The most a Qt reader may allocate for one decoded image: the share of the
// budget left beside the surface at the 8 bytes a pixel of a 16-bit image
// with alpha, for readers that do not announce their size.
constexpr int AllocationLimitMiB = int((OpeningBudget / (8 + 3) * 8) >> 20);

bool IsDeep(QImage::Format Format)
{
    switch (Format) {
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
    case QImage::Format_Grayscale16:
    case QImage::Format_BGR30:
    case QImage::Format_A2BGR30_Premultiplied:
    case QImage::Format_RGB30:
    case QImage::Format_A2RGB30_Premultiplied:
    case QImage::Format_RGBX16FPx4:
    case QImage::Format_RGBA16FPx4:
    case QImage::Format_RGBA16FPx4_Premultiplied:
    case QImage::Format_RGBX32FPx4:
    case QImage::Format_RGBA32FPx4:
    case QImage::Format_RGBA32FPx4_Premultiplied:
        return true;
    default:
        return false;
    }
}

// round(Colour x Alpha / 255): the colour over black. 255 is odd, so no
// exact halves arise.
inline std::uint8_t Over(unsigned Colour, unsigned Alpha)
{
    return std::uint8_t((Colour * Alpha + 127) / 255);
}

// round(Colour x Alpha / 65535 / 257): over black and down to 8 bits at once.
inline std::uint8_t Over16(std::uint64_t Colour, std::uint64_t Alpha)
{
    constexpr std::uint64_t scale = 65535u * 257u;
    return std::uint8_t((Colour * Alpha + scale / 2) / scale);
}

// Rows rows of Source from From on go into the surface's rows from To on.
// The surface has Source's width; the loops read it from there, since a call
// into Qt would be made again for every pixel.
void CopyShallow(const QImage& Source, int From, int Rows, TWin& Surface, int To)
{
    const std::int32_t width = Surface.Width();
    for (std::int32_t y = 0; y < Rows; ++y) {
        const QRgb* in = reinterpret_cast<const QRgb*>(Source.constScanLine(From + y));
        std::uint8_t* out = Surface.Row(To + y);
        for (std::int32_t x = 0; x < width; ++x, out += 3) {
            const QRgb pixel = in[x];
            const unsigned alpha = qAlpha(pixel);
            if (alpha == 255) {
                out[0] = std::uint8_t(qBlue(pixel));
                out[1] = std::uint8_t(qGreen(pixel));
                out[2] = std::uint8_t(qRed(pixel));
            } else {
                out[0] = Over(qBlue(pixel), alpha);
                out[1] = Over(qGreen(pixel), alpha);
                out[2] = Over(qRed(pixel), alpha);
            }
        }
    }
}

void CopyDeep(const QImage& Source, int From, int Rows, TWin& Surface, int To)
{
    const std::int32_t width = Surface.Width();
    for (std::int32_t y = 0; y < Rows; ++y) {
        const QRgba64* in = reinterpret_cast<const QRgba64*>(Source.constScanLine(From + y));
        std::uint8_t* out = Surface.Row(To + y);
        for (std::int32_t x = 0; x < width; ++x, out += 3) {
            const QRgba64 pixel = in[x];
            out[0] = Over16(pixel.blue(), pixel.alpha());
            out[1] = Over16(pixel.green(), pixel.alpha());
            out[2] = Over16(pixel.red(), pixel.alpha());
        }
    }
}

// The decoded image in the 24-bit surface, by the rules in ImageFiles.h. An
// image that needs converting is converted a band of rows at a time, so that
// no whole copy of it is made.
TWin ToSurface(const QImage& Image, const QString& Name)
{
    const std::int64_t width = Image.width(), height = Image.height();
    CheckReach({width, height, std::uint64_t(Image.sizeInBytes()) + SurfaceReach(width, height)},
               Name);
    const bool deep = IsDeep(Image.format());
    const QImage::Format wide = deep ? QImage::Format_RGBA64 : QImage::Format_ARGB32;
    const QColorSpace space = Image.colorSpace();
    const bool convertSpace = space.isValid() && space != QColorSpace(QColorSpace::SRgb);
    // 32-bit RGB holds 255 in its alpha byte: read as it is, it costs no copy.
    const bool asItIs =
        (Image.format() == wide || Image.format() == QImage::Format_RGB32) && !convertSpace;
    TWin surface(Image.width(), Image.height());
    for (int top = 0; top < Image.height(); top += BandRows) {
        const int rows = std::min(BandRows, Image.height() - top);
        QImage band;
        if (!asItIs) {
            band = Image.copy(0, top, Image.width(), rows);
            if (band.format() != wide && band.format() != QImage::Format_RGB32)
                band.convertTo(wide);
            if (convertSpace)
                band.convertToColorSpace(QColorSpace::SRgb);
            if (band.isNull())
                throw SurfaceError("Not enough memory to open " + Name.toStdString());
        }
        const QImage& source = asItIs ? Image : band;
        (deep ? CopyDeep : CopyShallow)(source, asItIs ? top : 0, rows, surface, top);
    }
    return surface;
}

// How far into a GIF its first frame is looked for: past the colour table
// and any comments and other extensions before it.
constexpr qint64 GifScanBytes = 1 << 20;

// The canvas a GIF's first frame is drawn on: its logical screen, grown to
// hold the frame where the frame reaches past it (Qt allocates that whole,
// but announces only the frame's own size). The screen alone when the first
// frame is not within the bytes given; empty when there is nothing to check.
std::optional<QSize> GifCanvas(const QByteArray& Head)
{
    const auto byte = [&](qsizetype At) { return std::uint8_t(Head[At]); };
    const auto word = [&](qsizetype At) { return byte(At) | byte(At + 1) << 8; };
    if (Head.size() < 13)
        return std::nullopt;
    const int screenWidth = word(6);
    const int screenHeight = word(8);
    const std::optional<QSize> screen =
        screenWidth > 0 && screenHeight > 0 ? std::optional(QSize(screenWidth, screenHeight))
                                            : std::nullopt;
    qsizetype at = 13;
    if (byte(10) & 0x80)
        at += 3 << ((byte(10) & 7) + 1);
    while (at + 10 <= Head.size()) {
        if (byte(at) == 0x2C) // the first frame's descriptor
            return QSize(std::max(screenWidth, word(at + 1) + word(at + 5)),
                         std::max(screenHeight, word(at + 3) + word(at + 7)));
        if (byte(at) != 0x21)
            return screen; // the trailer, or damage the reader reports
        for (at += 2; at < Head.size() && byte(at) != 0; at += byte(at) + 1) {
        }
        ++at; // the extension's closing empty block
    }
    return screen;
}

std::string ReadFault(const QImageReader& Reader)
{
    switch (Reader.error()) {
    case QImageReader::UnsupportedFormatError:
        return "this is not an image file Tavrin can read";
    case QImageReader::DeviceError:
        return "the file cannot be read";
    default:
        return "the image is damaged or cut short (" + Reader.errorString().toStdString() + ")";
    }
}

// What a decode through Qt's reader takes: the file, the image it makes at
// 4 bytes a pixel or its own depth if deeper (8 when it does not say; a GIF's
// whole canvas, always 32-bit), another for a turn, and the surface.
// Nothing when the reader cannot tell the size.
std::optional<TReach> QtReach(QImageReader& Reader, QIODevice& Device)
{
    QSize size = Reader.size();
    std::uint64_t pixel = 8;
    if (const QByteArray head = Device.peek(GifScanBytes); head.startsWith("GIF8")) {
        size = GifCanvas(head).value_or(size);
        pixel = 4;
    } else if (const int format = Reader.imageFormat();
               format > QImage::Format_Invalid && format < QImage::NImageFormats) {
        // Qt's JPEG reader gives an uninitialised format for a header it cannot read.
        pixel = std::max<std::uint64_t>(
            4, QImage::toPixelFormat(QImage::Format(format)).bitsPerPixel() / 8);
    }
    if (!size.isValid())
        return std::nullopt;
    if (Reader.transformation() & QImageIOHandler::TransformationRotate90)
        size.transpose();
    // The WebP and TIFF readers keep a whole picture of their own besides:
    // libwebp's lossless pixels or an animation's canvas, libtiff's strips.
    const QByteArray kind = Reader.format();
    const std::uint64_t copies =
        1 + (Reader.transformation() != QImageIOHandler::TransformationNone) +
        (kind == "webp" || kind == "tiff" || kind == "tif");
    const std::int64_t width = size.width(), height = size.height();
    return TReach{width, height,
                  std::uint64_t(Device.size()) + copies * pixel * std::uint64_t(width * height) +
                      SurfaceReach(width, height)};
}

void PrepareReader(QImageReader& Reader)
{
    Reader.setDecideFormatFromContent(true);
    Reader.setAutoTransform(true);
}

TWin DecodeWithQt(QIODevice& Device, const QString& Name)
{
    imagefiles::CheckPngChunks(Device, Name);
    if (imagefiles::IsDeepColourPng(Device.peek(32)))
        return ToSurface(imagefiles::DecodeDeepColourPng(Device, Name), Name);
    QImageReader::setAllocationLimit(AllocationLimitMiB);
    QImageReader reader(&Device);
    PrepareReader(reader);
    if (!reader.canRead())
        Refuse(Name, "this is not an image file Tavrin can read");
    // Checked from the header, before the reader allocates anything.
    if (const std::optional<TReach> reach = QtReach(reader, Device))
        CheckReach(*reach, Name);
    QImage image;
    if (!reader.read(&image))
        Refuse(Name, ReadFault(reader));
    return ToSurface(image, Name);
}

// A HEIF or JPEG file is read whole; one bigger than the largest surface
// holds no image that could open.
QByteArray ReadWhole(QIODevice& Device, const QString& Name)
{
    if (Device.size() > qint64(TWin::MaxBytes))
        Refuse(Name, "the file is larger than 1 GiB");
    QByteArray data = Device.readAll();
    if (data.size() != Device.size())
        Refuse(Name, "the file cannot be read");
    return data;
}

// A descriptor of the regular file FileName and its size, or -1. Opened
// without blocking, so that a named pipe is refused instead of freezing the caller.
int OpenRegularFile(const std::string& FileName, off_t& Size)
{
    const int descriptor = open(FileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info;
    if (descriptor >= 0 && fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode)) {
        Size = info.st_size;
        return descriptor;
    }
    if (descriptor >= 0)
        close(descriptor);
    return -1;
}

} // namespace

TWin ReadImageFile(const QString& FileName)
{
    const std::string native = QFile::encodeName(FileName).toStdString();
    off_t size = 0;
    const int descriptor = OpenRegularFile(native, size);
    if (descriptor < 0)
        throw SurfaceError("Cannot open file " + native);
    QFile file;
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        close(descriptor);
        throw SurfaceError("Cannot open file " + native);
    }
    const QByteArray head = file.peek(16);
    if (head.startsWith("BM")) {
        file.close();
        TWin image;
        image.LoadFromFile(native);
        return image;
    }
    if (imagefiles::LooksLikeHeif(head) || imagefiles::IsJpeg(head))
        return DecodeImage(ReadWhole(file, FileName), FileName);
    return DecodeWithQt(file, FileName);
}

namespace {

// A regular JPEG file's bytes, read with the system's calls alone; nothing
// for anything else.
std::optional<QByteArray> JpegBytes(const std::string& FileName)
{
    off_t size = 0;
    const int descriptor = OpenRegularFile(FileName, size);
    if (descriptor < 0)
        return std::nullopt;
    std::optional<QByteArray> bytes;
    QByteArray data(16, '\0');
    if (size >= 16 && std::uint64_t(size) <= TWin::MaxBytes &&
        pread(descriptor, data.data(), 16, 0) == 16 && imagefiles::IsJpeg(data)) {
        data.resize(qsizetype(size));
        qsizetype got = 0;
        for (ssize_t n = 0;
             got < data.size() &&
             (n = read(descriptor, data.data() + got, std::size_t(data.size() - got))) > 0;)
            got += n;
        if (got == data.size())
            bytes = std::move(data);
    }
    close(descriptor);
    return bytes;
}

} // namespace

std::optional<TPreview> ReadJpegPreview(const std::string& FileName, std::int32_t MinWidth,
                                        std::int32_t MinHeight)
{
    try {
        if (const std::optional<QByteArray> data = JpegBytes(FileName))
            return imagefiles::DecodePlainJpegReduced(*data, QString::fromStdString(FileName),
                                                      MinWidth, MinHeight);
    } catch (const SurfaceError&) {
    }
    return std::nullopt;
}

std::optional<TWin> ReadPlainJpeg(const std::string& FileName, const TEarlyPart* Early)
{
    try {
        if (const std::optional<QByteArray> data = JpegBytes(FileName))
            return imagefiles::DecodePlainJpeg(*data, QString::fromStdString(FileName), Early);
    } catch (const SurfaceError&) {
    }
    return std::nullopt;
}

TWin DecodeImage(const QByteArray& Data, const QString& Name)
{
    if (Data.startsWith("BM"))
        return DecodeBitmap(reinterpret_cast<const std::uint8_t*>(Data.constData()),
                            std::size_t(Data.size()));
    if (imagefiles::LooksLikeHeif(Data.left(16))) {
        if (const std::optional<TReach> reach = imagefiles::HeifReach(Data))
            imagefiles::CheckReach(*reach, Name);
        return ToSurface(imagefiles::DecodeHeif(Data, Name), Name);
    }
    if (imagefiles::IsJpeg(Data))
        if (std::optional<TWin> plain = imagefiles::DecodePlainJpeg(Data, Name))
            return std::move(*plain);
    QBuffer buffer;
    buffer.setData(Data);
    buffer.open(QIODevice::ReadOnly);
    return DecodeWithQt(buffer, Name);
}

bool Admits(const TReach& Reach)
{
    try {
        imagefiles::CheckSize(Reach.Width, Reach.Height, {});
    } catch (const SurfaceError&) {
        return false;
    }
    return Reach.Bytes <= OpeningBudget;
}

std::optional<TReach> ReachOf(const QByteArray& Data)
{
    if (Data.startsWith("BM"))
        return std::nullopt; // the engine's reader checks its own
    if (imagefiles::LooksLikeHeif(Data.left(16)))
        return imagefiles::HeifReach(Data);
    if (imagefiles::IsJpeg(Data))
        return imagefiles::JpegReach(Data);
    QBuffer buffer;
    buffer.setData(Data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    PrepareReader(reader);
    return QtReach(reader, buffer);
}

std::vector<TWritableFormat> WritableFormats()
{
    static const TWritableFormat all[] = {
        {QStringLiteral("Bitmap"), {QStringLiteral("bmp")}},
        {QStringLiteral("PNG"), {QStringLiteral("png")}},
        {QStringLiteral("JPEG"), {QStringLiteral("jpg"), QStringLiteral("jpeg")}},
        {QStringLiteral("WebP"), {QStringLiteral("webp")}},
        {QStringLiteral("TIFF"), {QStringLiteral("tif"), QStringLiteral("tiff")}},
    };
    return {std::begin(all), std::end(all)};
}

QStringList ReadableExtensions()
{
    QStringList extensions;
    for (const QByteArray& format : QImageReader::supportedImageFormats())
        extensions << QString::fromLatin1(format).toLower();
    extensions << QStringLiteral("bmp") << QStringLiteral("heic") << QStringLiteral("heif")
               << QStringLiteral("avif");
    extensions.sort();
    extensions.removeDuplicates();
    return extensions;
}

} // namespace tavrin
