#pragma once

#include <QList>
#include <QSize>

class QAbstractButton;

namespace kavio {

// Gives a column or row of buttons one common size: at least `least` (their first-start size)
// and large enough for the widest caption in the current font, so that a larger font or a
// higher font resolution never cuts a caption.
void fitButtonsToText(const QList<QAbstractButton*>& buttons, QSize least);

} // namespace kavio
