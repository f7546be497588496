// The pixel operations written exactly as their loops are defined, one pixel
// at a time in the defining order. The fast paths must give the same bytes;
// the tests and the benchmark compare against these.
#pragma once

#include <cstdint>

#include "Render.h"
#include "TWin.h"

namespace tavrin::reference {

void RotateFrom(TWin& Dest, const TWin& Source, std::int32_t CentreX, std::int32_t CentreY,
                float Angle, float ScaleX, float ScaleY, float ScaleStep, std::int32_t PivotX,
                std::int32_t PivotY, std::int32_t Level, std::int32_t Brightness, float Gain,
                float Saturation, std::int32_t RedShift, std::int32_t GreenShift,
                std::int32_t BlueShift, std::int32_t Effect, std::int32_t Clamp,
                std::int32_t MarginLeft, std::int32_t MarginTop, std::int32_t MarginRight,
                std::int32_t MarginBottom);

void SliceReflect(TWin& Surface, std::int32_t XSlices, std::int32_t YSlices, std::int32_t ReflectX,
                  std::int32_t ReflectY, std::int32_t LockXY, std::int32_t Left, std::int32_t Top,
                  std::int32_t Right, std::int32_t Bottom);

// The render pipeline built from the two above and the fill.
void Render(const TWin& Source, TWin& Output, const SliderPositions& Positions);

} // namespace tavrin::reference
