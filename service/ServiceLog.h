#pragma once

#include <QString>

namespace kavio::service {

// One line on standard error, led by the local time to the millisecond, so that the journal (or
// whoever reads the service's output) keeps the exchange's log. Control characters in `line`
// are written escaped: a line is always one line.
void logLine(const QString& line);

} // namespace kavio::service
