#include "DotComposer.h"

#include <algorithm>
#include <climits>

namespace kavio::lcd {
namespace {

const TDotImage emptyImage;

const TDotImage& textOf(const TComposition& c) {
    return c.text ? *c.text : emptyImage;
}
const TDotImage& bitmapOf(const TComposition& c) {
    return c.bitmap ? *c.bitmap : emptyImage;
}

// One axis of the wrap. `first` and `second` are the offsets of the content being shown (the
// same offset twice when only one kind of content is shown).
void wrapAxis(qint32& scroll, qint64 first, qint64 second, qint64 contentSize, qint64 gridSize) {
    if (first + scroll < -contentSize || second + scroll < -contentSize)
        scroll = qint32(scroll + contentSize + gridSize);
    if (first + scroll > gridSize || second + scroll > gridSize)
        scroll = qint32(scroll - (contentSize + gridSize));
}

int placed(int offset, qint32 scroll, TAnimMode mode) {
    if (mode == amStatic)
        return offset;
    return int(std::clamp<qint64>(qint64(offset) + scroll, INT_MIN, INT_MAX));
}

} // namespace

void WrapScroll(const TComposition& c, TScroll& scroll) {
    const TDotImage& text = textOf(c);
    const TDotImage& bitmap = bitmapOf(c);
    switch (c.displayMode) {
    case dmText:
        wrapAxis(scroll.x, c.linesXOffset, c.linesXOffset, text.width(), c.columns);
        wrapAxis(scroll.y, c.linesYOffset, c.linesYOffset, text.height(), c.rows);
        break;
    case dmBitmap:
        wrapAxis(scroll.x, c.bitmapXOffset, c.bitmapXOffset, bitmap.width(), c.columns);
        wrapAxis(scroll.y, c.bitmapYOffset, c.bitmapYOffset, bitmap.height(), c.rows);
        break;
    case dmBoth:
        wrapAxis(scroll.x, c.linesXOffset, c.bitmapXOffset, std::max(text.width(), bitmap.width()),
                 c.columns);
        wrapAxis(scroll.y, c.linesYOffset, c.bitmapYOffset,
                 std::max(text.height(), bitmap.height()), c.rows);
        break;
    }
}

TDotImage ComposeDots(const TComposition& c, const TScroll& scroll) {
    TDotImage dots(c.columns, c.rows);
    if (c.displayMode != dmBitmap) {
        dots.copyFrom(textOf(c), placed(c.linesXOffset, scroll.x, c.linesAnimMode),
                      placed(c.linesYOffset, scroll.y, c.linesAnimMode));
    }
    if (c.displayMode != dmText) {
        const auto mode = c.displayMode == dmBoth && c.bitmapCopyMode == cmTransparent
                              ? TDotImage::CopyMode::Transparent
                              : TDotImage::CopyMode::Opaque;
        dots.copyFrom(bitmapOf(c), placed(c.bitmapXOffset, scroll.x, c.bitmapAnimMode),
                      placed(c.bitmapYOffset, scroll.y, c.bitmapAnimMode), mode);
    }
    return dots;
}

} // namespace kavio::lcd
