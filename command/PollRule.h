#pragma once

#include "CommandSource.h"

#include <QDateTime>
#include <optional>

class QSettings;

namespace kavio {

// The poll interval of "Poll/Mode" in the settings file: the position of the interval item in the
// Poll menu, 2 ("Never") to 10 ("Once A Day"). The control center and the service both poll by it.
namespace poll {

inline constexpr int NeverMode = 2;
inline constexpr int LastMode = 10;

// The stored mode; a missing key or a value outside 2..10 gives "Never".
int readMode(const QSettings& settings);
// Stores the mode; the reason, naming the file, when it could not be saved.
QString writeMode(QSettings& settings, int mode);
// Whether a timed poll starts in the minute of `now` under `mode`. Items of two hours and more
// poll once, at minute 0 of a matching hour.
bool timedPollDue(int mode, const QDateTime& now);
// The minute of `time` (its seconds and milliseconds cut off): each minute is checked once.
QDateTime minuteOf(const QDateTime& time);

// The poll's clock, ticked about once a second by whoever serves the units. The first tick after
// arm() polls once. After that each minute is checked once, on its first tick, even when that
// tick comes a little after second 0; the minute of the first poll needs no second one.
struct Schedule {
    bool FirstPoll = false;
    QDateTime lastCheckedMinute;

    // The first poll is due at the next tick.
    void arm() { FirstPoll = true; }
    // No first poll: polls are timed from the minute of `now` on (another program made the
    // first one).
    void skipFirstPoll(const QDateTime& now);
    // The poll this tick starts under `mode`, if any: Poll for the first, TimedPoll when the
    // minute's rule holds.
    std::optional<CommandSource> tick(const QDateTime& now, int mode);
};

} // namespace poll
} // namespace kavio
