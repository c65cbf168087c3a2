#pragma once

#include "CommandSource.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <optional>

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

// What goes to the unit for a task. Reboot and pulse depend on the last status, as the list's
// buttons choose them: reboot cycles a unit that is on and switches on one that is off; pulse
// switches off a unit that is on and cycles one that is off; for any other status nothing is
// sent. Other tasks go as they are.
std::optional<quint8> taskToSend(quint8 task, qint64 lastStatus);

// The one-letter device command of a task code; 0 for a code that has none.
char CommandLetterOf(quint8 task);

// The bytes written to a unit for one command: ESC, the password exactly as stored, ESC, the
// command letter, CR. No length, terminator or line feed.
QByteArray CommandFrame(const QByteArray& password, char letter);
// A character below 0x20, or DEL: none may stand in a password or a name, since the frame's own
// delimiters are control characters.
bool HasControlCharacter(const QString& text);

} // namespace kavio
