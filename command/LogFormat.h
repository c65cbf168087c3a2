#pragma once

#include "CommandResult.h"
#include "HistoryRow.h"

namespace kavio {

// A line of the command log as the window shows it: local time, the unit's name and address,
// then the line's own text unchanged ("12:03:07 Rack A 10.0.0.5:5001 Connecting 10.0.0.5").
// A line about no unit carries the time only. Control characters in a name are shown escaped.
QString FormatLogLine(const TLogLine& line);

// An exchange kept in the history, as one log line: local date and time, unit, address, the
// command letter and who sent it, the reply, the outcome and the duration
// ("2026-12-07 12:03:07 Rack A 10.0.0.5:5001 q (poll) ON: answered, 35 ms").
QString FormatHistoryLine(const HistoryRow& row);

} // namespace kavio
