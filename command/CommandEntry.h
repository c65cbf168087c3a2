#pragma once

#include "CommandSource.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace kavio {

// One queued command: a unit and a task code, and the ticket by which the producer that queued
// it recognises its result.
struct TCommandEntry {
    quint16 Index = 0;
    quint8 Task = 0;
    quint64 Ticket = 0;
    CommandSource Source = CommandSource::Button;

    // Two entries ask the same of the same unit, whoever queued them.
    friend bool operator==(const TCommandEntry& a, const TCommandEntry& b) {
        return a.Index == b.Index && a.Task == b.Task;
    }
};

// The one-letter device command of a task code; 0 for a code that has none.
char CommandLetterOf(quint8 task);

// The bytes written to a unit for one command: ESC, the password exactly as stored, ESC, the
// command letter, CR. No length, terminator or line feed.
QByteArray CommandFrame(const QByteArray& password, char letter);
// A character below 0x20, or DEL: none may stand in a password or a name, since the frame's own
// delimiters are control characters.
bool HasControlCharacter(const QString& text);

} // namespace kavio
