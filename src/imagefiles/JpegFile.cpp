// Plain JPEG photos straight into the surface through libjpeg-turbo, which
// writes blue, green, red rows as the surface keeps them. Qt's reader would
// give 32-bit pixels that would then be packed into 24 bits again: a third
// more time than the decoding alone. A file with an EXIF turn, a colour
// profile other than sRGB, or CMYK pixels goes to Qt's reader instead.
#include <QColorSpace>

#include <algorithm>
#include <cstdio> // jpeglib.h needs FILE
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <jpeglib.h>
#include <jerror.h>

#include "Decoders.h"
#include "TWin.h"

namespace tavrin::imagefiles {

namespace {

struct TErrors {
    jpeg_error_mgr Manager;
    std::jmp_buf Jump;
};

[[noreturn]] void OnError(j_common_ptr Info)
{
    std::longjmp(reinterpret_cast<TErrors*>(Info->err)->Jump, 1);
}

void OnMessage(j_common_ptr) {}

struct TDecompress {
    jpeg_decompress_struct Info{};
    TErrors Errors{};
    TDecompress()
    {
        Info.err = jpeg_std_error(&Errors.Manager);
        Errors.Manager.error_exit = OnError;
        Errors.Manager.output_message = OnMessage;
        jpeg_create_decompress(&Info);
    }
    ~TDecompress() { jpeg_destroy_decompress(&Info); }
};

// The EXIF orientation (1 to 8) of an APP1 segment, or 1 when it has none.
int Orientation(const jpeg_saved_marker_ptr Marker)
{
    const JOCTET* d = Marker->data;
    const std::size_t size = Marker->data_length;
    if (size < 14 || std::memcmp(d, "Exif\0\0", 6) != 0)
        return 1;
    const JOCTET* tiff = d + 6;
    const std::size_t length = size - 6;
    const bool big = tiff[0] == 'M';
    const auto get16 = [&](std::size_t At) {
        return big ? unsigned(tiff[At] << 8 | tiff[At + 1])
                   : unsigned(tiff[At + 1] << 8 | tiff[At]);
    };
    const auto get32 = [&](std::size_t At) {
        return big ? std::size_t(get16(At)) << 16 | get16(At + 2)
                   : std::size_t(get16(At + 2)) << 16 | get16(At);
    };
    const std::size_t ifd = get32(4);
    if (ifd > length - 2)
        return 1;
    const unsigned entries = get16(ifd);
    for (unsigned i = 0; i < entries && ifd + 2 + 12 * (i + 1) <= length; ++i) {
        const std::size_t entry = ifd + 2 + 12 * i;
        if (get16(entry) == 0x0112)
            return int(get16(entry + 8));
    }
    return 1;
}

// The EXIF orientation of the first APP1 segment that gives one, or 1.
int Orientation(jpeg_decompress_struct& Info)
{
    for (jpeg_saved_marker_ptr marker = Info.marker_list; marker; marker = marker->next)
        if (marker->marker == JPEG_APP0 + 1 && Orientation(marker) != 1)
            return Orientation(marker);
    return 1;
}

// True when Qt's reader would give these pixels unchanged: no turn, no
// colour conversion, no CMYK.
bool IsPlain(jpeg_decompress_struct& Info)
{
    if (Info.jpeg_color_space != JCS_YCbCr && Info.jpeg_color_space != JCS_GRAYSCALE &&
        Info.jpeg_color_space != JCS_RGB)
        return false;
    if (Orientation(Info) != 1)
        return false;
    JOCTET* profile = nullptr;
    unsigned int length = 0;
    if (!jpeg_read_icc_profile(&Info, &profile, &length))
        return true;
    const QColorSpace space = QColorSpace::fromIccProfile(
        QByteArray(reinterpret_cast<const char*>(profile), qsizetype(length)));
    std::free(profile);
    return !space.isValid() || space == QColorSpace(QColorSpace::SRgb);
}

void ReadHeader(TDecompress& Jpeg, const QByteArray& Data)
{
    jpeg_mem_src(&Jpeg.Info, reinterpret_cast<const unsigned char*>(Data.constData()),
                 static_cast<unsigned long>(Data.size()));
    jpeg_save_markers(&Jpeg.Info, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&Jpeg.Info, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&Jpeg.Info, TRUE);
}

// libjpeg's own working memory: a few rows of samples, and for a progressive
// or multi-scan file the coefficients of the whole image, a block of 64 for
// every 8 x 8 samples of each component, rounded up to whole MCUs as its
// coefficient controller does.
std::uint64_t DecoderBytes(jpeg_decompress_struct& Info)
{
    constexpr std::uint64_t SampleRows = 64;
    std::uint64_t bytes = SampleRows * Info.image_width * std::uint64_t(Info.num_components);
    if (!jpeg_has_multiple_scans(&Info))
        return bytes;
    const auto roundUp = [](std::uint64_t Value, int Step) {
        return (Value + std::uint64_t(Step) - 1) / std::uint64_t(Step) * std::uint64_t(Step);
    };
    for (int c = 0; c < Info.num_components; ++c) {
        const jpeg_component_info& component = Info.comp_info[c];
        bytes += roundUp(component.width_in_blocks, component.h_samp_factor) *
                 roundUp(component.height_in_blocks, component.v_samp_factor) * sizeof(JBLOCK);
    }
    return bytes;
}

// The file, libjpeg's memory, and the surface; a file that is not plain goes
// through Qt's reader, which makes a 32-bit image, and a second to turn it.
TReach Reach(jpeg_decompress_struct& Info, bool Plain, std::uint64_t FileBytes)
{
    const std::int64_t width = Info.image_width, height = Info.image_height;
    const std::uint64_t copies = Plain ? 0 : Orientation(Info) == 1 ? 1 : 2;
    return {width, height,
            FileBytes + DecoderBytes(Info) + copies * 4 * std::uint64_t(width * height) +
                SurfaceReach(width, height)};
}

// Refuses the file libjpeg failed on: past the memory it was allowed, or damaged.
[[noreturn]] void RefuseFault(const TDecompress& Jpeg, const QString& Name)
{
    const int fault = Jpeg.Errors.Manager.msg_code;
    if (fault == JERR_OUT_OF_MEMORY || fault == JERR_NO_BACKING_STORE)
        Refuse(Name, "decoding the image needs more than the " +
                         std::to_string(OpeningBudget >> 20) +
                         " MiB of memory Tavrin allows for opening a picture");
    Refuse(Name, "the image is damaged or cut short");
}

// Refuses a file whose reach is past the budget, and holds libjpeg to what
// the budget leaves it, for what the check may have missed.
void CheckAndBound(jpeg_decompress_struct& Info, bool Plain, const QByteArray& Data,
                   const QString& Name)
{
    const TReach reach = Reach(Info, Plain, std::uint64_t(Data.size()));
    CheckReach(reach, Name);
    Info.mem->max_memory_to_use = long(OpeningBudget - reach.Bytes + DecoderBytes(Info));
}

// Decodes every scanline straight into Surface, which has the output's size.
// Early, if any, gets its part as soon as the rows it covers are decoded.
void DecodeInto(TDecompress& Jpeg, TWin& Surface, const TEarlyPart* Early = nullptr)
{
    jpeg_start_decompress(&Jpeg.Info);
    const std::int32_t height = Surface.Height();
    const std::int32_t earlyRows = Early && Early->Take ? std::min(Early->Height, height) : height;
    while (Jpeg.Info.output_scanline < Jpeg.Info.output_height) {
        JSAMPROW row = Surface.Row(std::int32_t(Jpeg.Info.output_scanline));
        jpeg_read_scanlines(&Jpeg.Info, &row, 1);
        if (std::int32_t(Jpeg.Info.output_scanline) == earlyRows && earlyRows < height) {
            TWin part(std::min(Early->Width, Surface.Width()), earlyRows);
            for (std::int32_t y = 0; y < earlyRows; ++y)
                std::memcpy(part.Row(y), Surface.Row(y), 3 * std::size_t(part.Width()));
            Early->Take(TPreview{std::move(part), Surface.Width(), height});
        }
    }
    jpeg_finish_decompress(&Jpeg.Info);
}

} // namespace

bool IsJpeg(const QByteArray& Head)
{
    return Head.startsWith("\xFF\xD8\xFF");
}

std::optional<TReach> JpegReach(const QByteArray& Data)
{
    TDecompress jpeg;
    if (setjmp(jpeg.Errors.Jump))
        return std::nullopt;
    ReadHeader(jpeg, Data);
    return Reach(jpeg.Info, IsPlain(jpeg.Info), std::uint64_t(Data.size()));
}

std::optional<TWin> DecodePlainJpeg(const QByteArray& Data, const QString& Name,
                                    const TEarlyPart* Early)
{
    // Everything with a destructor is made before setjmp, which a libjpeg
    // error jumps back to.
    TDecompress jpeg;
    TWin surface;
    if (setjmp(jpeg.Errors.Jump))
        RefuseFault(jpeg, Name);
    ReadHeader(jpeg, Data);
    const bool plain = IsPlain(jpeg.Info);
    CheckAndBound(jpeg.Info, plain, Data, Name);
    if (!plain)
        return std::nullopt;
    jpeg.Info.out_color_space = JCS_EXT_BGR;
    surface = TWin(std::int32_t(jpeg.Info.image_width), std::int32_t(jpeg.Info.image_height));
    DecodeInto(jpeg, surface, Early);
    return surface;
}

std::optional<TPreview> DecodePlainJpegReduced(const QByteArray& Data, const QString& Name,
                                               std::int32_t MinWidth, std::int32_t MinHeight)
{
    TDecompress jpeg;
    TWin surface;
    if (setjmp(jpeg.Errors.Jump))
        RefuseFault(jpeg, Name);
    ReadHeader(jpeg, Data);
    if (!IsPlain(jpeg.Info))
        return std::nullopt;
    // A progressive file's coefficients are whole at any scale; the whole
    // decode follows, and a file it would refuse is refused here.
    CheckAndBound(jpeg.Info, true, Data, Name);
    jpeg.Info.out_color_space = JCS_EXT_BGR;
    // A first look, replaced by the whole decode: speed before the last level.
    jpeg.Info.dct_method = JDCT_IFAST;
    jpeg.Info.do_fancy_upsampling = FALSE;
    jpeg.Info.scale_denom = 8;
    for (jpeg.Info.scale_num = 1;; ++jpeg.Info.scale_num) {
        jpeg_calc_output_dimensions(&jpeg.Info);
        if (jpeg.Info.scale_num == 8 || (std::int64_t(jpeg.Info.output_width) >= MinWidth &&
                                         std::int64_t(jpeg.Info.output_height) >= MinHeight))
            break;
    }
    // A large scan at 1/8 or 2/8: its codes are read on two threads.
    constexpr std::size_t WorthSplitting = 1 << 20;
    const jpeg_source_mgr& scan = *jpeg.Info.src;
    if (jpeg.Info.scale_num <= 2 && scan.bytes_in_buffer >= WorthSplitting)
        if (std::optional<TWin> look = DecodeFirstLook(jpeg.Info, scan.next_input_byte,
                                                       scan.bytes_in_buffer,
                                                       int(jpeg.Info.scale_num)))
            return TPreview{std::move(*look), std::int32_t(jpeg.Info.image_width),
                            std::int32_t(jpeg.Info.image_height)};
    surface = TWin(std::int32_t(jpeg.Info.output_width), std::int32_t(jpeg.Info.output_height));
    DecodeInto(jpeg, surface);
    return TPreview{std::move(surface), std::int32_t(jpeg.Info.image_width),
                    std::int32_t(jpeg.Info.image_height)};
}

} // namespace tavrin::imagefiles
