#pragma once

#include "CharGrid.h"
#include "DotImage.h"
#include "LCDTypes.h"

#include <QFont>

namespace kavio::lcd {

// Renders the first `lineCount` lines of the grid into a dot image, one pixel per dot: each
// character in `font` (its own style ignored; the markup attributes honoured by `effects`
// decide underline, strike-through, bold and italic), lines stacked top to bottom. A dot is lit
// where the rendered pixel is dark: the glyph of a normal cell, the background of an inverse
// cell, or of a blinking cell while `blinkPhase` is set. An empty line is a band of unlit rows
// as high as the font's pixel size.
TDotImage RenderTextImage(const TCharGrid& grid, int lineCount, const QFont& font,
                          TSpecialEffects effects, bool blinkPhase);

} // namespace kavio::lcd
