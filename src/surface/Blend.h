// The channel blend kernel shared by the fill and the rotate-and-place transform.
#pragma once

#include <cstdint>

namespace tavrin {

// Mixes a stored channel value with a new one by Level 0..128 (128: the new
// value wholly); a level outside 0..128 takes the new value. Clamp >= 1 first
// clamps NewValue into 0..255. Callers keep the low 8 bits of the result.
constexpr std::int32_t BlendChannel(std::int32_t OldValue, std::int32_t NewValue,
                                    std::int32_t Level, std::int32_t Clamp)
{
    if (Clamp >= 1) {
        if (NewValue >= 255)
            NewValue = 255;
        else if (NewValue < 0)
            NewValue = 0;
    }
    if (Level < 0 || Level > 128)
        return NewValue;
    // In 64 bits: an unclamped NewValue may be any 32-bit number. The shift of
    // a negative sum rounds toward minus infinity, as the kernel's does.
    const std::int64_t sum = std::int64_t(OldValue) * (128 - Level) + std::int64_t(NewValue) * Level;
    return static_cast<std::int32_t>(sum >> 7);
}

} // namespace tavrin
