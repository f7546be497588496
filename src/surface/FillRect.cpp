#include "Blend.h"
#include "TWin.h"

#include <algorithm>

namespace tavrin {

void TWin::FillRect(std::int32_t X1, std::int32_t Y1, std::int32_t X2, std::int32_t Y2,
                    std::int32_t Red, std::int32_t Green, std::int32_t Blue, std::int32_t Level)
{
    if (Empty())
        return; // clamping would give corners of -1
    const TCorners c = OrderAndClamp({X1, Y1, X2, Y2}, Width(), Height());
    Step = 3;
    const auto b = static_cast<std::uint8_t>(Blue);
    const auto g = static_cast<std::uint8_t>(Green);
    const auto r = static_cast<std::uint8_t>(Red);
    for (std::int32_t y = c.Y1; y <= c.Y2; ++y) {
        SetCursor(c.X1, y, 3);
        std::uint8_t* p = Cursor;
        std::uint8_t* end = p + 3 * std::size_t(c.X2 - c.X1 + 1);
        if (Level == 128) {
            if (b == g && g == r) {
                std::fill(p, end, b);
            } else {
                for (; p != end; p += 3) {
                    p[0] = b;
                    p[1] = g;
                    p[2] = r;
                }
            }
        } else {
            for (; p != end; p += 3) {
                p[0] = static_cast<std::uint8_t>(BlendChannel(p[0], Blue, Level, 0));
                p[1] = static_cast<std::uint8_t>(BlendChannel(p[1], Green, Level, 0));
                p[2] = static_cast<std::uint8_t>(BlendChannel(p[2], Red, Level, 0));
            }
        }
        Cursor = end;
    }
}

} // namespace tavrin
