#include "Blend.h"
#include "TWin.h"

#include <algorithm>
#include <utility>

namespace tavrin {

void TWin::FillRect(std::int32_t X1, std::int32_t Y1, std::int32_t X2, std::int32_t Y2,
                    std::int32_t Red, std::int32_t Green, std::int32_t Blue, std::int32_t Level)
{
    if (Empty())
        return; // clamping would give corners of -1
    const std::int32_t xmax = Width() - 1;
    const std::int32_t ymax = Height() - 1;
    if (X1 > X2)
        std::swap(X1, X2);
    if (Y1 > Y2)
        std::swap(Y1, Y2);
    X1 = std::clamp(X1, 0, xmax);
    X2 = std::clamp(X2, 0, xmax);
    Y1 = std::clamp(Y1, 0, ymax);
    Y2 = std::clamp(Y2, 0, ymax);
    Step = 3;
    const auto b = static_cast<std::uint8_t>(Blue);
    const auto g = static_cast<std::uint8_t>(Green);
    const auto r = static_cast<std::uint8_t>(Red);
    for (std::int32_t y = Y1; y <= Y2; ++y) {
        SetCursor(X1, y, 3);
        std::uint8_t* p = Cursor;
        std::uint8_t* end = p + 3 * std::size_t(X2 - X1 + 1);
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
