// Feeds arbitrary bytes, after two that choose where the second thread
// starts, to the first look at a baseline JPEG. Whatever the header lets
// through must decode to the same picture, or fail, wherever the second
// thread starts, as the first thread alone does.
#include <csetjmp>
#include <cstdint>
#include <cstdio> // jpeglib.h needs FILE
#include <cstdlib>
#include <cstring>
#include <jpeglib.h>

#include "Decoders.h"

namespace {

struct TErrors {
    jpeg_error_mgr Manager;
    std::jmp_buf Jump;
};

bool Same(const std::optional<tavrin::TWin>& A, const std::optional<tavrin::TWin>& B)
{
    if (A->Width() != B->Width() || A->Height() != B->Height())
        return false;
    for (std::int32_t y = 0; y < A->Height(); ++y)
        if (std::memcmp(A->Row(y), B->Row(y), 3 * std::size_t(A->Width())) != 0)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
    if (Size < 2)
        return 0;
    const std::size_t chosen = std::size_t(Data[0]) | std::size_t(Data[1]) << 8;
    jpeg_decompress_struct info{};
    TErrors errors{};
    info.err = jpeg_std_error(&errors.Manager);
    errors.Manager.error_exit = [](j_common_ptr Info) {
        std::longjmp(reinterpret_cast<TErrors*>(Info->err)->Jump, 1);
    };
    errors.Manager.output_message = [](j_common_ptr) {};
    jpeg_create_decompress(&info);
    if (setjmp(errors.Jump)) {
        jpeg_destroy_decompress(&info);
        return 0;
    }
    jpeg_mem_src(&info, Data + 2, static_cast<unsigned long>(Size - 2));
    jpeg_read_header(&info, TRUE);
    // The program checks a file's size against its budget before this; a
    // few megapixels are as much as a small input describes.
    if (std::uint64_t(info.image_width) * info.image_height <= (1u << 22)) {
        const std::uint8_t* scan = info.src->next_input_byte;
        const std::size_t bytes = info.src->bytes_in_buffer;
        for (const int scale : {1, 2}) {
            const auto alone = tavrin::imagefiles::DecodeFirstLook(info, scan, bytes, scale, bytes);
            const auto middle = tavrin::imagefiles::DecodeFirstLook(info, scan, bytes, scale);
            const auto there =
                tavrin::imagefiles::DecodeFirstLook(info, scan, bytes, scale, chosen % (bytes + 1));
            if (bool(alone) != bool(middle) || bool(alone) != bool(there) ||
                (alone && (!Same(alone, middle) || !Same(alone, there))))
                std::abort();
        }
    }
    jpeg_destroy_decompress(&info);
    return 0;
}
