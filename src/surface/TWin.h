// The image surface: a rectangle of 24-bit pixels, top row first, and the
// pixel operations of the render. Plain C++: the windows wrap `Bits` without
// copying, the command-line renderer uses it as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "SurfaceError.h"

namespace tavrin {

// The 40-byte bitmap information header, field order and widths as in the
// published BMP format. It describes the pixel memory; its height is stored
// negative because the rows are kept top row first.
struct TBitmapInfoHeader {
    std::uint32_t Size = 40;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::uint16_t Planes = 1;
    std::uint16_t BitCount = 24;
    std::uint32_t Compression = 0;
    std::uint32_t SizeImage = 0;
    std::int32_t XPelsPerMeter = 0;
    std::int32_t YPelsPerMeter = 0;
    std::uint32_t ClrUsed = 0;
    std::uint32_t ClrImportant = 0;
};
static_assert(sizeof(TBitmapInfoHeader) == 40);

// Receives the block copies of `TWin::Draw`. The windows implement it with a
// painter; tests record the calls.
class TDrawTarget {
public:
    virtual ~TDrawTarget() = default;
    // Copies Width x Height pixels from (SrcX, SrcY) of Source to (X, Y).
    virtual void BlockCopy(const class TWin& Source, int SrcX, int SrcY, int Width, int Height,
                           int X, int Y) = 0;
    // Copies the whole of Source scaled into the rectangle (X, Y, Width, Height).
    virtual void StretchCopy(const class TWin& Source, int X, int Y, int Width, int Height) = 0;
};

// Bytes per row: 3 bytes a pixel rounded up to a multiple of 4.
constexpr std::uint32_t StrideFor(std::int32_t Width)
{
    return ((24u * static_cast<std::uint32_t>(Width) + 31u) / 32u) * 4u;
}

// Two opposite corners of a rectangle, both included.
struct TCorners {
    std::int32_t X1 = 0;
    std::int32_t Y1 = 0;
    std::int32_t X2 = 0;
    std::int32_t Y2 = 0;
};

// Puts the corners in order and clamps them into a Width x Height surface of
// at least one pixel: a rectangle outside shrinks onto the nearest edge.
TCorners OrderAndClamp(TCorners Corners, std::int32_t Width, std::int32_t Height);

class TWin {
public:
    // The largest surface the program makes: the rotation's 16.16 arithmetic
    // is exact only within 32767 pixels, and 1 GiB of pixels is the most any
    // one image may cost.
    static constexpr std::int32_t MaxSide = 32767;
    static constexpr std::uint64_t MaxBytes = std::uint64_t(1) << 30;

    // An empty (0 x 0) surface.
    TWin() = default;
    // Throws SurfaceError when the size is negative, past the limits above,
    // or the memory cannot be had. Pixels start black.
    TWin(std::int32_t Width, std::int32_t Height);

    TWin(const TWin& Other);
    TWin& operator=(const TWin& Other);
    TWin(TWin&& Other) noexcept;
    TWin& operator=(TWin&& Other) noexcept;
    ~TWin() = default;

    void swap(TWin& Other) noexcept;

    std::int32_t Width() const { return Header.Width; }
    std::int32_t Height() const { return Header.Height < 0 ? -Header.Height : Header.Height; }
    bool Empty() const { return Width() == 0 || Height() == 0; }
    std::uint8_t* Row(std::int32_t Y) { return Bits + std::size_t(Y) * Stride; }
    const std::uint8_t* Row(std::int32_t Y) const { return Bits + std::size_t(Y) * Stride; }
    std::size_t ByteCount() const { return Bytes; }

    // Pixel accessors. They test nothing: callers keep (X, Y) inside the image.
    std::uint8_t ProbeBlue(std::int32_t X, std::int32_t Y);
    std::uint8_t ProbeGreen() const { return Probe[1]; }
    std::uint8_t ProbeRed() const { return Probe[2]; }
    void SetCursor(std::int32_t X, std::int32_t Y, std::int32_t NewStep);
    std::uint8_t CursorBlue() const { return Cursor[0]; }
    std::uint8_t CursorGreen() const { return Cursor[1]; }
    std::uint8_t CursorRedAdvance();

    // Copies the surface, or part of it, to Target in one of six modes;
    // any other Mode draws nothing, as does an empty surface.
    void Draw(TDrawTarget& Target, std::int32_t Mode, std::int32_t X, std::int32_t Y,
              std::int32_t DestWidth, std::int32_t DestHeight, std::int32_t AreaWidth,
              std::int32_t AreaHeight) const;

    // Sets, or tints toward (Red, Green, Blue) by Level, the rectangle with
    // corners (X1, Y1) and (X2, Y2), both included, clamped into the surface.
    void FillRect(std::int32_t X1, std::int32_t Y1, std::int32_t X2, std::int32_t Y2,
                  std::int32_t Red, std::int32_t Green, std::int32_t Blue, std::int32_t Level);

    // Draws Source into this surface scaled, turned by Angle degrees about a
    // pivot and placed on (CentreX, CentreY), with key colour, colour step and
    // blend. Source must not be this surface.
    void RotateFrom(const TWin& Source, std::int32_t CentreX, std::int32_t CentreY, float Angle,
                    float ScaleX, float ScaleY, float ScaleStep, std::int32_t PivotX,
                    std::int32_t PivotY, std::int32_t Level, std::int32_t Brightness, float Gain,
                    float Saturation, std::int32_t RedShift, std::int32_t GreenShift,
                    std::int32_t BlueShift, std::int32_t Effect, std::int32_t Clamp,
                    std::int32_t MarginLeft, std::int32_t MarginTop, std::int32_t MarginRight,
                    std::int32_t MarginBottom);

    // Cuts the rectangle into XSlices x YSlices slices and spreads the
    // bottom-left slice over the grid, tiled or reflected per axis.
    void SliceReflect(std::int32_t XSlices, std::int32_t YSlices, std::int32_t ReflectX,
                      std::int32_t ReflectY, std::int32_t LockXY, std::int32_t Left,
                      std::int32_t Top, std::int32_t Right, std::int32_t Bottom);

    // Replaces the surface with the image of a bitmap file. On any error the
    // surface is left exactly as it was and SurfaceError is thrown.
    void LoadFromFile(const std::string& FileName);
    // Writes the surface as an uncompressed 24-bit bitmap file. The target is
    // replaced only by a complete file; on failure SurfaceError is thrown and
    // an existing file is left as it was.
    void SaveToFile(const std::string& FileName) const;

    TBitmapInfoHeader Header;
    std::uint8_t* Bits = nullptr;   // top-left pixel
    std::uint8_t* Cursor = nullptr; // stepping cursor
    std::uint32_t Stride = 0;
    std::uint8_t* Probe = nullptr;  // random-access pointer
    std::int32_t Step = 0;

private:
    struct TFree {
        void operator()(std::uint8_t* Memory) const noexcept { std::free(Memory); }
    };
    // From calloc: a large surface comes as fresh zero pages from the system,
    // touched first by whoever fills it, instead of cleared and then filled.
    std::unique_ptr<std::uint8_t[], TFree> Memory;
    std::size_t Bytes = 0;
};

} // namespace tavrin
