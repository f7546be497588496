// The surface's drawing target on Qt: block copies become QPainter image
// draws straight from the surface's own pixel memory.
#pragma once

#include <QImage>

#include "TWin.h"

class QPainter;

// The surface's pixels as a QImage that shares its memory (no copy). Valid
// while the surface keeps its size; an empty surface gives a null image.
QImage SurfaceImage(const tavrin::TWin& Surface);

// Draws through a painter; one surface pixel covers one device pixel, also
// when the painter's device has a device pixel ratio above 1.
class TPainterTarget : public tavrin::TDrawTarget {
public:
    explicit TPainterTarget(QPainter& Painter);

    void BlockCopy(const tavrin::TWin& Source, int SrcX, int SrcY, int Width, int Height, int X,
                   int Y) override;
    void StretchCopy(const tavrin::TWin& Source, int X, int Y, int Width, int Height) override;

private:
    QPainter& Painter;
    qreal Ratio;
};
