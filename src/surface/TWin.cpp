#include "TWin.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace tavrin {

TCorners OrderAndClamp(TCorners C, std::int32_t Width, std::int32_t Height)
{
    if (C.X1 > C.X2)
        std::swap(C.X1, C.X2);
    if (C.Y1 > C.Y2)
        std::swap(C.Y1, C.Y2);
    return {std::clamp(C.X1, 0, Width - 1), std::clamp(C.Y1, 0, Height - 1),
            std::clamp(C.X2, 0, Width - 1), std::clamp(C.Y2, 0, Height - 1)};
}

TWin::TWin(std::int32_t Width, std::int32_t Height)
{
    if (Width < 0 || Height < 0 || Width > MaxSide || Height > MaxSide)
        throw SurfaceError("Image size " + std::to_string(Width) + " x " + std::to_string(Height) +
                           " is outside the supported range");
    const std::uint64_t bytes = std::uint64_t(StrideFor(Width)) * std::uint64_t(Height);
    if (bytes > MaxBytes)
        throw SurfaceError("Image of " + std::to_string(Width) + " x " + std::to_string(Height) +
                           " pixels is too large");
    Memory.reset(static_cast<std::uint8_t*>(std::calloc(bytes, 1)));
    if (bytes && !Memory)
        throw SurfaceError("Not enough memory for an image of " + std::to_string(Width) + " x " +
                           std::to_string(Height) + " pixels");
    Bytes = bytes;
    Header.Width = Width;
    Header.Height = -Height;
    Stride = StrideFor(Width);
    Bits = Bytes ? Memory.get() : nullptr;
}

TWin::TWin(const TWin& Other) : Header(Other.Header), Stride(Other.Stride), Step(Other.Step)
{
    Memory.reset(static_cast<std::uint8_t*>(std::malloc(Other.Bytes)));
    if (Other.Bytes && !Memory)
        throw SurfaceError("Not enough memory for a copy of an image of " +
                           std::to_string(Other.Width()) + " x " + std::to_string(Other.Height()) +
                           " pixels");
    if (Other.Bytes)
        std::memcpy(Memory.get(), Other.Memory.get(), Other.Bytes);
    Bytes = Other.Bytes;
    Bits = Bytes ? Memory.get() : nullptr;
}

TWin& TWin::operator=(const TWin& Other)
{
    if (this != &Other) {
        TWin copy(Other);
        swap(copy);
    }
    return *this;
}

TWin::TWin(TWin&& Other) noexcept
{
    swap(Other);
}

TWin& TWin::operator=(TWin&& Other) noexcept
{
    TWin moved(std::move(Other));
    swap(moved);
    return *this;
}

void TWin::swap(TWin& Other) noexcept
{
    std::swap(Header, Other.Header);
    std::swap(Bits, Other.Bits);
    std::swap(Cursor, Other.Cursor);
    std::swap(Stride, Other.Stride);
    std::swap(Probe, Other.Probe);
    std::swap(Step, Other.Step);
    std::swap(Bytes, Other.Bytes);
    Memory.swap(Other.Memory); // keeps each buffer's address, so the pointers stay valid
}

std::uint8_t TWin::ProbeBlue(std::int32_t X, std::int32_t Y)
{
    Probe = Bits + std::size_t(Y) * Stride + 3 * std::size_t(X);
    return Probe[0];
}

void TWin::SetCursor(std::int32_t X, std::int32_t Y, std::int32_t NewStep)
{
    Step = NewStep;
    Cursor = Bits + std::size_t(Y) * Stride + std::size_t(X) * (Header.BitCount / 8);
}

std::uint8_t TWin::CursorRedAdvance()
{
    const std::uint8_t red = Cursor[2];
    Cursor += Step;
    return red;
}

void TWin::Draw(TDrawTarget& Target, std::int32_t Mode, std::int32_t X, std::int32_t Y,
                std::int32_t DestWidth, std::int32_t DestHeight, std::int32_t AreaWidth,
                std::int32_t AreaHeight) const
{
    const int w = Width();
    const int h = Height();
    if (Empty())
        return; // mode 4 would never advance, the others have nothing to copy
    switch (static_cast<std::uint32_t>(Mode)) {
    case 0:
        Target.BlockCopy(*this, 0, 0, w, h, X, Y);
        break;
    case 1:
        Target.BlockCopy(*this, 0, 0, w, h, AreaWidth / 2 - w / 2, AreaHeight / 2 - h / 2);
        break;
    case 2:
        Target.StretchCopy(*this, 0, 0, AreaWidth, AreaHeight);
        break;
    case 3:
        Target.StretchCopy(*this, X, Y, DestWidth, DestHeight);
        break;
    case 4:
        // 64-bit counters: the last tile may start past the 32-bit range
        for (std::int64_t ty = 0; ty < AreaHeight; ty += h)
            for (std::int64_t tx = 0; tx < AreaWidth; tx += w)
                Target.BlockCopy(*this, 0, 0, w, h, int(tx), int(ty));
        break;
    case 5:
        Target.BlockCopy(*this, 0, 0, DestWidth, DestHeight, X, Y);
        break;
    default:
        break;
    }
}

} // namespace tavrin
