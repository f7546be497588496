// Placeholder until this operation is written.
#include "TWin.h"
namespace tavrin {
void TWin::SliceReflect(std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                        std::int32_t, std::int32_t, std::int32_t, std::int32_t)
{
    throw SurfaceError("SliceReflect is not written yet");
}
}
