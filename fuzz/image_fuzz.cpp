// Feeds arbitrary bytes to the image front end, as a file of unknown format
// would reach it. Whatever decodes must fit the surface's limits and survive
// a bitmap round trip unchanged.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "BitmapFile.h"
#include "ImageFiles.h"

namespace {

bool SameImage(const tavrin::TWin& A, const tavrin::TWin& B)
{
    if (A.Width() != B.Width() || A.Height() != B.Height())
        return false;
    for (std::int32_t y = 0; y < A.Height(); ++y)
        if (std::memcmp(A.Row(y), B.Row(y), 3 * std::size_t(A.Width())) != 0)
            return false;
    return true;
}

// Images the size checks admit but of more pixels than a 64 KiB input can
// describe cost the search a long fill each and teach it nothing; their
// reach is what the checks compute. Images past the limits or the budget are
// still searched, as they are refused from the header.
bool HugeButAllowed(const QByteArray& Data)
{
    const std::optional<tavrin::TReach> reach = tavrin::ReachOf(Data);
    return reach && tavrin::Admits(*reach) && reach->Width * reach->Height > (1 << 20);
}

} // namespace

// Qt's readers report every fault of a broken file on standard error; the
// search meets thousands a second.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(Data), qsizetype(Size));
    // Bitmaps go to the engine's reader, which bitmap_fuzz searches.
    if (bytes.startsWith("BM") || HugeButAllowed(bytes))
        return 0;
    tavrin::TWin image;
    try {
        image = tavrin::DecodeImage(bytes, QStringLiteral("fuzz"));
    } catch (const tavrin::SurfaceError&) {
        return 0;
    }
    if (image.Width() > tavrin::TWin::MaxSide || image.Height() > tavrin::TWin::MaxSide ||
        image.ByteCount() > tavrin::TWin::MaxBytes)
        std::abort();
    const std::vector<std::uint8_t> file = tavrin::EncodeBitmap(image);
    if (!SameImage(image, tavrin::DecodeBitmap(file.data(), file.size())))
        std::abort();
    return 0;
}
