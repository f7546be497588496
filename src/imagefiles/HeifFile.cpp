// HEIC and AVIF through libheif: Qt has no reader for either.
#include <QColorSpace>

#include <libheif/heif.h>

#include <memory>

#include "Decoders.h"
#include "TWin.h"

namespace tavrin::imagefiles {

namespace {

struct TFreeContext {
    void operator()(heif_context* Context) const { heif_context_free(Context); }
};
struct TReleaseHandle {
    void operator()(heif_image_handle* Handle) const { heif_image_handle_release(Handle); }
};

void Check(heif_error Error, const QString& Name)
{
    if (Error.code != heif_error_Ok)
        Refuse(Name,
               std::string("the HEIF image is damaged or not supported (") + Error.message + ")");
}

// The colour space the file declares; invalid when it declares sRGB or nothing.
QColorSpace ColourSpace(const heif_image_handle* Handle)
{
    switch (heif_image_handle_get_color_profile_type(Handle)) {
    case heif_color_profile_type_prof:
    case heif_color_profile_type_rICC: {
        QByteArray profile(qsizetype(heif_image_handle_get_raw_color_profile_size(Handle)), 0);
        if (heif_image_handle_get_raw_color_profile(Handle, profile.data()).code != heif_error_Ok)
            return {};
        return QColorSpace::fromIccProfile(profile);
    }
    case heif_color_profile_type_nclx: {
        heif_color_profile_nclx* nclx = nullptr;
        if (heif_image_handle_get_nclx_color_profile(Handle, &nclx).code != heif_error_Ok)
            return {};
        const bool p3 = nclx->color_primaries == heif_color_primaries_SMPTE_EG_432_1;
        heif_nclx_color_profile_free(nclx);
        // Phones write Display P3 this way; other primaries are taken as sRGB.
        if (p3)
            return QColorSpace(QColorSpace::Primaries::DciP3D65,
                               QColorSpace::TransferFunction::SRgb);
        return {};
    }
    default:
        return {};
    }
}

} // namespace

bool LooksLikeHeif(const QByteArray& Head)
{
    if (Head.size() < 12)
        return false;
    const heif_filetype_result kind = heif_check_filetype(
        reinterpret_cast<const std::uint8_t*>(Head.constData()), int(Head.size()));
    return kind == heif_filetype_yes_supported || kind == heif_filetype_yes_unsupported;
}

QImage DecodeHeif(const QByteArray& Data, const QString& Name)
{
    CheckHeifSizes(Data, Name);
    const std::unique_ptr<heif_context, TFreeContext> context(heif_context_alloc());
    if (!context)
        Refuse(Name, "not enough memory");
    heif_context_set_maximum_image_size_limit(context.get(), TWin::MaxSide);
    Check(heif_context_read_from_memory_without_copy(context.get(), Data.constData(),
                                                     std::size_t(Data.size()), nullptr),
          Name);
    heif_image_handle* primary = nullptr;
    Check(heif_context_get_primary_image_handle(context.get(), &primary), Name);
    const std::unique_ptr<heif_image_handle, TReleaseHandle> handle(primary);
    // The size after the file's turn and mirror, which decoding applies.
    CheckSize(heif_image_handle_get_width(primary), heif_image_handle_get_height(primary), Name);

    const bool alpha = heif_image_handle_has_alpha_channel(primary);
    heif_image* decoded = nullptr;
    Check(heif_decode_image(primary, &decoded, heif_colorspace_RGB,
                            alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                            nullptr),
          Name);
    int stride = 0;
    const std::uint8_t* pixels =
        heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
    if (!pixels) {
        heif_image_release(decoded);
        Refuse(Name, "the HEIF image has no colour pixels");
    }
    // The QImage owns the decoded pixels from here on.
    QImage image(
        pixels, heif_image_get_width(decoded, heif_channel_interleaved),
        heif_image_get_height(decoded, heif_channel_interleaved), stride,
        alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888,
        [](void* Decoded) { heif_image_release(static_cast<heif_image*>(Decoded)); }, decoded);
    image.setColorSpace(ColourSpace(primary));
    return image;
}

} // namespace tavrin::imagefiles
