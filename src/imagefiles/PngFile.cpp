// 16-bit colour PNG files through libpng itself: Qt 6.4's reader scrambles
// the pixels of such a file when it carries a transparent colour key, so the
// whole layout is read here, the same way with or without the key.
#include <QColorSpace>
#include <QIODevice>

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <vector>

#include "Decoders.h"

namespace tavrin::imagefiles {

namespace {

constexpr int SignatureSize = 8;

[[noreturn]] void OnError(png_structp Png, png_const_charp)
{
    std::longjmp(png_jmpbuf(Png), 1);
}

void OnWarning(png_structp, png_const_charp) {}

void ReadFromDevice(png_structp Png, png_bytep Data, png_size_t Size)
{
    auto* device = static_cast<QIODevice*>(png_get_io_ptr(Png));
    if (device->read(reinterpret_cast<char*>(Data), qint64(Size)) != qint64(Size))
        png_error(Png, "cut short");
}

// The colour space the file declares: its ICC profile, else its gamma.
QColorSpace ColourSpace(png_structp Png, png_infop Info)
{
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 length = 0;
    if (png_get_iCCP(Png, Info, &name, &compression, &profile, &length))
        return QColorSpace::fromIccProfile(
            QByteArray(reinterpret_cast<const char*>(profile), qsizetype(length)));
    double gamma = 0;
    if (!png_get_valid(Png, Info, PNG_INFO_sRGB) && png_get_gAMA(Png, Info, &gamma) && gamma > 0)
        return QColorSpace(QColorSpace::Primaries::SRgb, QColorSpace::TransferFunction::Gamma,
                           float(1.0 / gamma));
    return {};
}

struct TReadStruct {
    png_structp Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    png_infop Info = Png ? png_create_info_struct(Png) : nullptr;
    ~TReadStruct() { png_destroy_read_struct(&Png, &Info, nullptr); }
};

} // namespace

void CheckPngChunks(QIODevice& Device, const QString& Name)
{
    const QByteArray signature = Device.peek(SignatureSize);
    if (signature.size() < SignatureSize ||
        png_sig_cmp(reinterpret_cast<png_const_bytep>(signature.constData()), 0, SignatureSize) != 0)
        return;
    const qint64 start = Device.pos();
    const qint64 end = Device.size();
    bool sound = true;
    unsigned char head[8];
    // Each chunk: a 4-byte length, a 4-byte type, the data and a 4-byte CRC.
    // A file that ends between chunks is left to libpng to judge.
    for (qint64 at = start + SignatureSize;
         Device.seek(at) && Device.read(reinterpret_cast<char*>(head), 8) == 8 &&
         std::memcmp(head + 4, "IEND", 4) != 0;
         at += 12 + qint64(png_get_uint_32(head))) {
        const std::uint32_t length = png_get_uint_32(head);
        sound = length <= PNG_UINT_31_MAX && std::uint64_t(end - at) >= 12 + std::uint64_t(length);
        if (!sound)
            break;
    }
    if (!Device.seek(start) || !sound)
        Refuse(Name, "the image is damaged or cut short (a chunk reaches past the end of the file)");
}

bool IsDeepColourPng(const QByteArray& Head)
{
    // The signature, then IHDR: length, type, width, height, depth, colour type.
    return Head.size() >= 26 &&
           png_sig_cmp(reinterpret_cast<png_const_bytep>(Head.constData()), 0, SignatureSize) ==
               0 &&
           Head.mid(12, 4) == "IHDR" && Head[24] == 16 && Head[25] == PNG_COLOR_TYPE_RGB;
}

QImage DecodeDeepColourPng(QIODevice& Device, const QString& Name)
{
    // Everything with a destructor is made before setjmp, which a libpng
    // error jumps back to.
    TReadStruct read;
    QImage image;
    std::vector<png_bytep> rows;
    if (!read.Png || !read.Info)
        Refuse(Name, "not enough memory");
    if (setjmp(png_jmpbuf(read.Png)))
        Refuse(Name, "the image is damaged or cut short");
    png_set_read_fn(read.Png, &Device, ReadFromDevice);
    png_set_user_limits(read.Png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_read_info(read.Png, read.Info);
    // The file, the image of 8 bytes a pixel made here, and the surface.
    const std::int64_t width = png_get_image_width(read.Png, read.Info);
    const std::int64_t height = png_get_image_height(read.Png, read.Info);
    CheckReach({width, height,
                std::uint64_t(Device.size()) + std::uint64_t(width * height) * 8 +
                    SurfaceReach(width, height)},
               Name);
    // Red, green, blue and alpha of 16 bits, least significant byte first:
    // the memory of a QRgba64. The colour key becomes alpha.
    if (png_get_valid(read.Png, read.Info, PNG_INFO_tRNS))
        png_set_tRNS_to_alpha(read.Png);
    else
        png_set_filler(read.Png, 0xffff, PNG_FILLER_AFTER);
    png_set_swap(read.Png);
    png_set_interlace_handling(read.Png);
    png_read_update_info(read.Png, read.Info);
    image = QImage(int(png_get_image_width(read.Png, read.Info)),
                   int(png_get_image_height(read.Png, read.Info)), QImage::Format_RGBA64);
    if (image.isNull())
        Refuse(Name, "not enough memory");
    rows.resize(std::size_t(image.height()));
    for (int y = 0; y < image.height(); ++y)
        rows[std::size_t(y)] = image.scanLine(y);
    png_read_image(read.Png, rows.data());
    png_read_end(read.Png, nullptr);
    image.setColorSpace(ColourSpace(read.Png, read.Info));
    return image;
}

} // namespace tavrin::imagefiles
