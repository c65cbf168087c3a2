#pragma once

#include <QHostAddress>
#include <QString>
#include <optional>

namespace kavio {

// The address of a unit as stored: four decimal numbers 0..255 joined by three dots, without
// blanks, signs or leading zeros. Anything else (a host name, a short form such as "127.1", an
// address with blanks) gives no address, so that a hand-edited record never makes the program
// look a name up or dial somewhere it was not told to.
std::optional<QHostAddress> DottedIPv4(const QString& text);

} // namespace kavio
