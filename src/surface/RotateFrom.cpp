// Placeholder until this operation is written.
#include "TWin.h"
namespace tavrin {
void TWin::RotateFrom(const TWin&, std::int32_t, std::int32_t, float, float, float, float,
                      std::int32_t, std::int32_t, std::int32_t, std::int32_t, float, float,
                      std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                      std::int32_t, std::int32_t, std::int32_t, std::int32_t)
{
    throw SurfaceError("RotateFrom is not written yet");
}
}
