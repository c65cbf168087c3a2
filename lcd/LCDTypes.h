#pragma once

#include <QFlags>
#include <QObject>

// The enumerations of the dot-matrix display's settings. They live in a namespace of their own
// with Qt's meta-object support so that they can be used as widget properties.
namespace kavio {
namespace lcd {
Q_NAMESPACE

// Preset dot cell sizes: the value with ordinal n (1 to 16) is a cell of n x n pixels;
// pixCustom keeps PixelWidth x PixelHeight as set.
enum TPixelSize {
    pixCustom,
    pix1x1,
    pix2x2,
    pix3x3,
    pix4x4,
    pix5x5,
    pix6x6,
    pix7x7,
    pix8x8,
    pix9x9,
    pix10x10,
    pix11x11,
    pix12x12,
    pix13x13,
    pix14x14,
    pix15x15,
    pix16x16
};
Q_ENUM_NS(TPixelSize)

enum TLCDBorder { bsLowered, bsNone, bsRaised };
Q_ENUM_NS(TLCDBorder)

enum TDisplayMode { dmText, dmBitmap, dmBoth };
Q_ENUM_NS(TDisplayMode)

enum TBitmapCopyMode { cmNotTransparent, cmTransparent };
Q_ENUM_NS(TBitmapCopyMode)

enum TAnimMode { amDynamic, amStatic };
Q_ENUM_NS(TAnimMode)

enum TPixelShape { psSquare, psRound };
Q_ENUM_NS(TPixelShape)

// Which markup effects the display honours. The bit values differ from the attribute bits of
// the character grid (CharGrid.h); the text renderer maps one onto the other.
enum TSpecialEffect {
    spBlink = 1,
    spBold = 2,
    spInverse = 4,
    spItalic = 8,
    spUnderline = 16,
    spStrike = 32
};
Q_DECLARE_FLAGS(TSpecialEffects, TSpecialEffect)
Q_FLAG_NS(TSpecialEffects)
Q_DECLARE_OPERATORS_FOR_FLAGS(TSpecialEffects)

} // namespace lcd
} // namespace kavio
