#pragma once

#include "DotImage.h"
#include "LCDTypes.h"

namespace kavio::lcd {

// Everything that decides which dots are lit, apart from the scroll position.
struct TComposition {
    TDisplayMode displayMode = dmText;
    TBitmapCopyMode bitmapCopyMode = cmNotTransparent;
    const TDotImage* text = nullptr;
    const TDotImage* bitmap = nullptr;
    int linesXOffset = 0;
    int linesYOffset = 0;
    TAnimMode linesAnimMode = amDynamic;
    int bitmapXOffset = 0;
    int bitmapYOffset = 0;
    TAnimMode bitmapAnimMode = amDynamic;
    int columns = 0;
    int rows = 0;
};

struct TScroll {
    qint32 x = 0;
    qint32 y = 0;
};

// Content that has scrolled completely off one edge re-enters from the opposite one: the scroll
// position jumps by the content's size plus the grid's size.
void WrapScroll(const TComposition& composition, TScroll& scroll);

// The dot image of Columns x Rows for the given (already wrapped) scroll position.
TDotImage ComposeDots(const TComposition& composition, const TScroll& scroll);

} // namespace kavio::lcd
