#pragma once

#include <QDateTime>

class QSettings;

namespace kavio {

// The poll interval of "Poll/Mode" in the settings file: the position of the interval item in the
// Poll menu, 2 ("Never") to 10 ("Once A Day"). The control center and the service both poll by it.
namespace poll {

inline constexpr int NeverMode = 2;
inline constexpr int LastMode = 10;

// The stored mode; a missing key or a value outside 2..10 gives "Never".
int readMode(const QSettings& settings);
// Whether a timed poll starts in the minute of `now` under `mode`. Items of two hours and more
// poll once, at minute 0 of a matching hour.
bool timedPollDue(int mode, const QDateTime& now);
// The minute of `time` (its seconds and milliseconds cut off): each minute is checked once.
QDateTime minuteOf(const QDateTime& time);

} // namespace poll
} // namespace kavio
