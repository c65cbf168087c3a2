#pragma once

#include <QList>
#include <QSize>

class QAbstractButton;

namespace kavio {

// Gives a column or row of buttons one common size: at least `least` (their first-start size)
// and large enough for the widest caption in the current font, so that a larger font or a
// higher font resolution never cuts a caption.
void fitButtonsToText(const QList<QAbstractButton*>& buttons, QSize least);

// The same for windows whose buttons keep exactly their first-start size while their captions
// fit it: only a caption wider or taller than that (with the style's margins) makes them larger,
// never the style's own idea of a button's least width.
void fitButtonsToCaptions(const QList<QAbstractButton*>& buttons, QSize least);

} // namespace kavio
