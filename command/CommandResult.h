#pragma once

#include "Codes.h"
#include "CommandSource.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>

namespace kavio {

// How one queued command ended, as the producer that queued it hears of it.
struct TCommandResult {
    enum class Outcome {
        // The unit took the command and the reply was read (the reply may still be no status
        // word, which stores "unknown").
        Answered,
        // No connection was made; the unit's status is now "failed".
        NotConnected,
        // The connection broke while the command was written or the reply read.
        Broken,
        // Nothing was sent: the unit's record cannot be sent as it stands (a control character
        // in its password). Its status stays as it was.
        Refused,
        // Nothing was sent: the entry names no unit (gone, a group) or an unknown task, or the
        // unit's record could not be read.
        Dropped,
    };

    quint64 Ticket = 0;
    quint16 Index = 0;
    quint8 Task = 0;
    Outcome Result = Outcome::Dropped;
    // The unit's name as read for the exchange; empty when dropped before it was read.
    QString Name;
    // The reply as kept (at most a few bytes) and what it means as a status code.
    QByteArray Reply;
    quint8 Status = StatusUnknown;
    // False when the database refused the status; it is kept and written later.
    bool Stored = true;
    // Who queued the entry.
    CommandSource Source = CommandSource::Button;
    // The unit's address and port as read for the exchange; empty and 0 when dropped before.
    QString Address;
    quint16 Port = 0;
    // When the entry was taken from the queue (UTC, milliseconds since the epoch) and how long
    // its exchange took until this result.
    qint64 StartedMs = 0;
    qint64 DurationMs = 0;
    // The connect limit or the reply limit ran out (the reply is what arrived by then).
    bool TimedOut = false;
    // The whole command was written (false for a record refused and a failed write).
    bool Written = false;
    // The unit answered "CYCLE" again after the engine had asked for as long as it asks: no
    // more follow-up query is queued.
    bool StillCycling = false;
    // The exchange's history row went into the database with its status.
    bool Recorded = false;

    // The reply is one of the status words a unit answers with.
    bool answeredWithStatusWord() const {
        return Result == Outcome::Answered && Status != StatusUnknown;
    }
};

// One line of the exchange's log with the context a reader needs: when, and about which unit.
struct TLogLine {
    qint64 TimeMs = 0; // UTC, milliseconds since the epoch
    QString Name;      // the unit of the exchange; empty for a line about no unit
    QString Address;
    quint16 Port = 0;
    QString Text; // the line as the plain log has it ("  SUCCESS")
};

} // namespace kavio

Q_DECLARE_METATYPE(kavio::TCommandResult)
Q_DECLARE_METATYPE(kavio::TLogLine)
