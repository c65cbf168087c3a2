#pragma once

#include <QString>
#include <QtGlobal>

namespace kavio {

// Who queued a command. It travels with the entry to its result, so that the history, the log
// and the notices can tell an operator's click from a poll, a timer or a script.
enum class CommandSource : quint8 {
    Button,        // a power button, on the ticked units
    Popup,         // the line's menu, on one unit
    Poll,          // the poll at start and Poll > Now
    TimedPoll,     // the poll on the interval of the Poll menu
    Timer,         // a timer event
    CycleFollowUp, // the query the engine queues after a "CYCLE" reply
    Kavioctl,      // kavioctl, served by its own engine or handed over
    Http,          // the HTTP interface of the service
};

// The word for a source in logs, files and on the command line ("button", "timed poll", ...).
QString sourceName(CommandSource source);
// The source of a word as sourceName writes it; false when the word names none.
bool sourceFromName(const QString& name, CommandSource& source);

} // namespace kavio
