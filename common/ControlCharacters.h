#pragma once

#include <QString>

namespace kavio {

// A text on one line for a listing, a log or a message on a terminal: line breaks, tabs and
// other control characters written as \n, \r, \t, \xHH or \uHHHH, so that they can neither break
// the lines nor be mistaken for the text around them.
QString escapeControlCharacters(const QString& text);

// A name as one line of plain text for the window: line breaks and other control characters
// become blanks.
QString blankControlCharacters(QString text);

} // namespace kavio
