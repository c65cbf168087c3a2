#pragma once

#include <QColor>

namespace kavio::lcd {

struct TDotColours {
    QColor lit;
    QColor unlit;
};

// The colours of lit and unlit dots. Each channel of the mixed colour M is
// (pixelOff - font) * (255 - |intensity|) / 255, rounded to the nearest integer with halves away
// from zero and kept to its low 8 bits, so a negative result wraps (-64 gives 192). A positive
// intensity lights dots in M on unlit dots of pixelOff; a negative one swaps the two roles.
TDotColours ComputeDotColours(const QColor& pixelOff, const QColor& fontColour, qint8 intensity);

} // namespace kavio::lcd
