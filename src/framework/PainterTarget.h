// The surface's drawing target on Qt: block copies become QPainter image
// draws straight from the surface's own pixel memory.
#pragma once

#include <QImage>
#include <QRect>
#include <QRegion>

#include "TWin.h"

class QPainter;

// Part of the surface's pixels (Part lies inside it) as a QImage that shares
// its memory (no copy). Valid while the surface keeps its size; an empty
// part gives a null image.
QImage SurfaceImage(const tavrin::TWin& Surface, const QRect& Part);

// Draws through a painter; one surface pixel covers one device pixel, also
// when the painter's device has a device pixel ratio above 1. Block copies
// draw only their part inside Area (device pixels), the part being painted.
class TPainterTarget : public tavrin::TDrawTarget {
public:
    TPainterTarget(QPainter& Painter, const QRegion& Area);

    void BlockCopy(const tavrin::TWin& Source, int SrcX, int SrcY, int Width, int Height, int X,
                   int Y) override;
    void StretchCopy(const tavrin::TWin& Source, int X, int Y, int Width, int Height) override;

private:
    QPainter& Painter;
    QRegion Area;
    qreal Ratio;
};
