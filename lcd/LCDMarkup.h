#pragma once

#include "CharGrid.h"

#include <QStringList>

namespace kavio::lcd {

// Fills the character grid from the display's text lines, removing the markup tags ("<u>",
// "<s>", "<b>", "<i>", "<bl>", "<inv>" and their closing forms). Tags are plain switches that
// stay in force across line ends; a "<" that starts no tag is an ordinary character.
// Lines beyond the grid's 256th and visible characters beyond a line's 255th are dropped, but
// the tags among them still switch their attributes.
void ParseLines(const QStringList& lines, TCharGrid& grid);

} // namespace kavio::lcd
