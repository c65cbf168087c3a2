#pragma once

#include "DotColours.h"
#include "DotImage.h"
#include "GridGeometry.h"
#include "LCDTypes.h"

#include <QImage>

namespace kavio::lcd {

struct TFrameStyle {
    QSize size;
    TLCDBorder borderStyle = bsLowered;
    QColor background;   // margin and gaps between dots
    QColor highlight;    // button highlight of the desktop palette
    QColor shadow;       // button shadow of the desktop palette
    bool enabled = true; // a disabled display shows only background and border
    TCellLayout layout;
    TPixelShape pixelShape = psSquare;
    TDotColours colours;
};

// Paints the dot area: every dot of `dots` as an enlarged cell in an image of `areaSize` filled
// with `background` between the cells. Rows are copied from a prebuilt strip of unlit cells and
// only lit cells are drawn over it, so the cost follows the number of lit dots.
QImage PaintDotArea(const TDotImage& dots, const QSize& areaSize, const TCellLayout& layout,
                    TPixelShape shape, const TDotColours& colours, const QColor& background);

// The whole control: background, the one-pixel border, and (when enabled) the dot area inside
// the border space, as large as the whole cells that fit.
QImage PaintFrame(const TFrameStyle& style, const TDotImage& dots);

} // namespace kavio::lcd
