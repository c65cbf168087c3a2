#pragma once

#include <QString>

namespace kavio {

// A stored status code as the word scripts see: ON, OFF, CYCLE, UNKNOWN, FAILED or BUSY; a code
// outside those (a hand-edited record) reads UNKNOWN.
QString statusWord(qint64 status);

} // namespace kavio
