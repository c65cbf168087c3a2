#pragma once

#include "CommandResult.h"
#include "CommandSource.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

// What the program serving the units tells its subscribers on the control socket, one line of
// compact JSON each:
//
//   {"hello":{"program":"kaviod","pid":N,"served":[keys]}}   first, once
//   {"log":{"time":ms,"name":...,"address":...,"port":P,"text":...}}
//   {"finished":{result fields}}       every exchange, whoever queued it
//   {"status":true}                    statuses were written: the list is to be read again
//   {"queue":{"length":N,"head":"poll"}}  the queue's size changed
//   {"fired":"key"}                    a timer event of today fired or was missed
//   {"day":true}                       a new day began: today's events are new
//   {"changed":true}                   the units, groups or timers were changed by another
//   {"timers":true}                    the timers' next events were computed again
//   {"settings":true}                  the settings file was read again
namespace kavio::control {

struct Notice {
    enum class Kind {
        Hello,
        Log,
        Finished,
        Status,
        Queue,
        Fired,
        DayBegan,
        Changed,
        Timers,
        Settings
    };

    Notice() = default;
    Notice(Kind kind)
        : kind(kind) {}

    Kind kind = Kind::Status;
    // Hello: who serves the units, and today's timer events served already.
    QString program;
    qint64 pid = 0;
    QStringList served;
    TLogLine log;          // Log
    TCommandResult result; // Finished
    int queueLength = 0;   // Queue
    CommandSource queueHead = CommandSource::Button;
    QString key; // Fired
};

QByteArray encodeNotice(const Notice& notice);
// nullopt for a line that is no notice.
std::optional<Notice> decodeNotice(const QByteArray& line);

} // namespace kavio::control
