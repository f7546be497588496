// The picture resized by area averaging, as a zoomed-out view and a shared
// file show it: every destination pixel is the mean of the source pixels it
// covers, each weighted by the area it covers, rounded to the nearest level
// (halves up). The sums are kept in integers, so the result is exact and the
// same however the work is split.
#pragma once

#include "PlaceTurned.h"
#include "TWin.h"

namespace tavrin {

// Writes the pixels of Dest inside Area (clipped to Dest) and no others. The
// mapping is fixed by the whole sizes of Source and Dest, so parts written
// apart join up exactly. Source must not be Dest; an empty Source writes
// nothing.
void AreaDownscale(const TWin& Source, TWin& Dest, const TRect& Area);

// The whole of Dest.
void AreaDownscale(const TWin& Source, TWin& Dest);

} // namespace tavrin
