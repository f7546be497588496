// The writers of every format the program saves, straight through the
// formats' own libraries: plain C++ over the surface's rows, so that a long
// encode can run on a worker thread while the windows keep answering. Each
// checks the stop request between rows and counts its progress.
#include "ImageFiles.h"

#include <QFile>
#include <QFileInfo>

#include <csetjmp>
#include <cstddef>
#include <cstdarg>
#include <cstdio> // jpeglib.h needs FILE
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
#include <webp/encode.h>

#include "BitmapFile.h"

namespace tavrin {

namespace {

constexpr int DotsPerMeter = 3937; // 100 dpi
constexpr int DotsPerInch = 100;

// Counts rows done and answers whether to go on.
struct TRows {
    TWriteProgress* Progress;
    std::int32_t Height;
    bool Done(std::int32_t Rows) const
    {
        if (!Progress)
            return true;
        Progress->Permille.store(int(std::int64_t(Rows) * 1000 / std::max(Height, 1)));
        return !Progress->Cancel.load();
    }
};

// libpng and libjpeg report errors by a jump out of their own C code, which
// an exception must not cross: the message is kept and thrown after it.
struct TPngState {
    TSaveFile* File;
    std::jmp_buf Jump;
    std::string Message;
};

bool EncodePng(const TWin& Image, TSaveFile& File, const TRows& Rows, std::string& Message)
{
    TPngState state{&File, {}, {}};
    png_structp png = png_create_write_struct(
        PNG_LIBPNG_VER_STRING, &state,
        [](png_structp Png, png_const_charp What) {
            auto* state = static_cast<TPngState*>(png_get_error_ptr(Png));
            state->Message = What;
            std::longjmp(state->Jump, 1);
        },
        [](png_structp, png_const_charp) {});
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        Message = "not enough memory";
        return false;
    }
    // Declared before the jump point: a longjmp keeps only what is not changed after it.
    volatile bool going = true;
    if (setjmp(state.Jump)) {
        png_destroy_write_struct(&png, &info);
        Message = state.Message;
        return false;
    }
    png_set_write_fn(
        png, &state,
        [](png_structp Png, png_bytep Data, png_size_t Size) {
            static_cast<TPngState*>(png_get_io_ptr(Png))->File->Write(Data, Size);
        },
        nullptr);
    png_set_IHDR(png, info, png_uint_32(Image.Width()), png_uint_32(Image.Height()), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    // zlib's level 3 rather than its default 6: on a 6000 x 4000 photo it
    // takes a third of the time for a file no larger (save-bench).
    png_set_compression_level(png, 3);
    png_set_pHYs(png, info, DotsPerMeter, DotsPerMeter, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    png_set_bgr(png);
    for (std::int32_t y = 0; y < Image.Height() && going; ++y) {
        png_write_row(png, Image.Row(y));
        going = Rows.Done(y + 1);
    }
    if (going)
        png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return going;
}

struct TJpegState {
    jpeg_error_mgr Manager;
    std::jmp_buf Jump;
    TSaveFile* File;
    jpeg_destination_mgr Destination;
    JOCTET Buffer[1 << 16];
};

bool EncodeJpeg(const TWin& Image, TSaveFile& File, int Quality, const TRows& Rows,
                std::string& Message)
{
    auto state = std::make_unique<TJpegState>();
    state->File = &File;
    jpeg_compress_struct info{};
    info.err = jpeg_std_error(&state->Manager);
    state->Manager.error_exit = [](j_common_ptr Info) {
        std::longjmp(reinterpret_cast<TJpegState*>(Info->err)->Jump, 1);
    };
    state->Manager.output_message = [](j_common_ptr) {};
    volatile bool going = true;
    if (setjmp(state->Jump)) {
        char text[JMSG_LENGTH_MAX];
        state->Manager.format_message(reinterpret_cast<j_common_ptr>(&info), text);
        jpeg_destroy_compress(&info);
        Message = text;
        return false;
    }
    jpeg_create_compress(&info);
    // The destination finds its state through the error manager, which comes first in it.
    static_assert(offsetof(TJpegState, Manager) == 0);
    state->Destination.init_destination = [](j_compress_ptr Info) {
        TJpegState* s = reinterpret_cast<TJpegState*>(Info->err);
        s->Destination.next_output_byte = s->Buffer;
        s->Destination.free_in_buffer = sizeof s->Buffer;
    };
    state->Destination.empty_output_buffer = [](j_compress_ptr Info) -> boolean {
        TJpegState* s = reinterpret_cast<TJpegState*>(Info->err);
        s->File->Write(s->Buffer, sizeof s->Buffer);
        s->Destination.next_output_byte = s->Buffer;
        s->Destination.free_in_buffer = sizeof s->Buffer;
        return TRUE;
    };
    state->Destination.term_destination = [](j_compress_ptr Info) {
        TJpegState* s = reinterpret_cast<TJpegState*>(Info->err);
        s->File->Write(s->Buffer, sizeof s->Buffer - s->Destination.free_in_buffer);
    };
    info.dest = &state->Destination;
    info.image_width = JDIMENSION(Image.Width());
    info.image_height = JDIMENSION(Image.Height());
    info.input_components = 3;
    info.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, Quality == DefaultQuality ? 92 : Quality, TRUE);
    info.density_unit = 1; // dots per inch
    info.X_density = DotsPerInch;
    info.Y_density = DotsPerInch;
    jpeg_start_compress(&info, TRUE);
    while (going && info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(Image.Row(std::int32_t(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
        going = Rows.Done(std::int32_t(info.next_scanline));
    }
    if (going)
        jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return going;
}

bool EncodeWebP(const TWin& Image, TSaveFile& File, int Quality, TWriteProgress* Progress,
                std::string& Message)
{
    WebPConfig config;
    WebPPicture picture;
    if (!WebPConfigInit(&config) || !WebPPictureInit(&picture)) {
        Message = "the WebP library does not match";
        return false;
    }
    if (Quality == DefaultQuality) {
        // Lossless level 3: on photos it gives the very file of the default
        // level 6 in under a third of the time (save-bench).
        WebPConfigLosslessPreset(&config, 3);
    } else {
        config.quality = float(Quality);
    }
    picture.width = Image.Width();
    picture.height = Image.Height();
    picture.use_argb = config.lossless;
    if (!WebPPictureImportBGR(&picture, Image.Bits, int(Image.Stride))) {
        Message = "not enough memory";
        return false;
    }
    picture.writer = [](const std::uint8_t* Data, std::size_t Size, const WebPPicture* Picture) {
        static_cast<TSaveFile*>(Picture->custom_ptr)->Write(Data, Size);
        return 1;
    };
    picture.custom_ptr = &File;
    picture.user_data = Progress;
    if (Progress)
        picture.progress_hook = [](int Percent, const WebPPicture* Picture) {
            auto* progress = static_cast<TWriteProgress*>(Picture->user_data);
            progress->Permille.store(Percent * 10);
            return progress->Cancel.load() ? 0 : 1;
        };
    const bool encoded = WebPEncode(&config, &picture);
    const WebPEncodingError error = picture.error_code;
    WebPPictureFree(&picture);
    if (!encoded && error != VP8_ENC_ERROR_USER_ABORT)
        Message = error == VP8_ENC_ERROR_BAD_DIMENSION
                      ? "a WebP image has at most " + std::to_string(WEBP_MAX_DIMENSION) +
                            " pixels a side"
                      : "the WebP encoder failed (error " + std::to_string(int(error)) + ")";
    return encoded;
}

// libtiff seeks back to write its directory's place into the header, so the
// file is made in memory and written once complete.
struct TTiffMemory {
    std::vector<std::uint8_t> Bytes;
    std::size_t At = 0;
    std::string Message;
};

tmsize_t TiffWrite(thandle_t Handle, void* Data, tmsize_t Size)
{
    auto* m = static_cast<TTiffMemory*>(Handle);
    if (m->At + std::size_t(Size) > m->Bytes.size())
        m->Bytes.resize(m->At + std::size_t(Size));
    std::memcpy(m->Bytes.data() + m->At, Data, std::size_t(Size));
    m->At += std::size_t(Size);
    return Size;
}

toff_t TiffSeek(thandle_t Handle, toff_t Offset, int Whence)
{
    auto* m = static_cast<TTiffMemory*>(Handle);
    const std::size_t base = Whence == SEEK_CUR ? m->At : Whence == SEEK_END ? m->Bytes.size() : 0;
    m->At = base + std::size_t(Offset);
    return m->At;
}

bool EncodeTiff(const TWin& Image, TSaveFile& File, const TRows& Rows, std::string& Message)
{
    TTiffMemory memory;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(
        options,
        [](TIFF*, void* Memory, const char*, const char* Format, va_list Arguments) {
            char text[512];
            std::vsnprintf(text, sizeof text, Format, Arguments);
            static_cast<TTiffMemory*>(Memory)->Message = text;
            return 1;
        },
        &memory);
    TIFFOpenOptionsSetWarningHandlerExtR(
        options, [](TIFF*, void*, const char*, const char*, va_list) { return 1; }, nullptr);
    TIFF* tiff = TIFFClientOpenExt(
        "image", "w", &memory, [](thandle_t, void*, tmsize_t) -> tmsize_t { return 0; },
        TiffWrite, TiffSeek, [](thandle_t) { return 0; },
        [](thandle_t Handle) { return toff_t(static_cast<TTiffMemory*>(Handle)->Bytes.size()); },
        [](thandle_t, void**, toff_t*) { return 0; }, [](thandle_t, void*, toff_t) {}, options);
    TIFFOpenOptionsFree(options);
    bool going = tiff != nullptr;
    if (going) {
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, std::uint32_t(Image.Width()));
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, std::uint32_t(Image.Height()));
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0));
        TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFSetField(tiff, TIFFTAG_XRESOLUTION, float(DotsPerInch));
        TIFFSetField(tiff, TIFFTAG_YRESOLUTION, float(DotsPerInch));
        // libtiff's predictor changes the row it is given: each goes through a copy.
        std::vector<std::uint8_t> row(3 * std::size_t(Image.Width()));
        for (std::int32_t y = 0; y < Image.Height() && going; ++y) {
            const std::uint8_t* in = Image.Row(y);
            for (std::size_t x = 0; x < row.size(); x += 3) {
                row[x] = in[x + 2];
                row[x + 1] = in[x + 1];
                row[x + 2] = in[x];
            }
            if (TIFFWriteScanline(tiff, row.data(), std::uint32_t(y), 0) < 0)
                going = false;
            else
                going = Rows.Done(y + 1);
        }
        if (going && !TIFFWriteDirectory(tiff))
            going = false;
        TIFFClose(tiff);
    }
    if (!going)
        Message = memory.Message;
    else
        File.Write(memory.Bytes.data(), memory.Bytes.size());
    return going;
}

} // namespace

TImageWrite::TImageWrite(const QString& FileName, int Quality)
    : Name(FileName.toStdString()), Extension(QFileInfo(FileName).suffix().toLower().toStdString()),
      Quality(Quality)
{
    QStringList writable;
    for (const TWritableFormat& format : WritableFormats())
        writable << format.Extensions;
    if (!writable.contains(QString::fromStdString(Extension)))
        throw SurfaceError("Cannot save " + Name + ": Tavrin saves only files ending in ." +
                           writable.join(QLatin1String(", .")).toStdString());
    File = std::make_unique<TSaveFile>(QFile::encodeName(FileName).toStdString());
}

TImageWrite::~TImageWrite() = default;

bool TImageWrite::Run(const TWin& Image, TWriteProgress* Progress)
{
    // Whatever the outcome, the temporary file is gone when Run returns.
    const std::unique_ptr<TSaveFile> file = std::move(File);
    const TRows rows{Progress, Image.Height()};
    std::string message;
    bool written;
    if (Extension == "bmp") {
        EncodeBitmap(Image, *file); // no rows to stop between, but stopped before it replaces
        written = rows.Done(Image.Height());
    } else if (Image.Width() <= 0 || Image.Height() <= 0) {
        written = false;
        message = "the image has no pixels";
    } else if (Extension == "png") {
        written = EncodePng(Image, *file, rows, message);
    } else if (Extension == "jpg" || Extension == "jpeg") {
        written = EncodeJpeg(Image, *file, Quality, rows, message);
    } else if (Extension == "webp") {
        written = EncodeWebP(Image, *file, Quality, Progress, message);
    } else {
        written = EncodeTiff(Image, *file, rows, message);
    }
    if (!written && message.empty())
        return false; // stopped on request: the old file stays
    if (!written)
        throw SurfaceError("Cannot write file " + Name + ": " + message);
    file->Commit();
    return true;
}

void WriteImageFile(const TWin& Image, const QString& FileName, int Quality)
{
    TImageWrite(FileName, Quality).Run(Image);
}

} // namespace tavrin
