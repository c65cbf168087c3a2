#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace kavio::sim {

// Command-line text to bytes: \r \n \t \e (ESC) \0 \\ and \xHH stand for the byte they name,
// so replies such as "on\r\n" can be typed. Returns nothing for a malformed escape.
std::optional<QByteArray> unescapeText(const QString& text);

// Bytes to printable text for logs: printable ASCII as is, the rest as escapes.
QString escapeBytes(const QByteArray& bytes);

} // namespace kavio::sim
