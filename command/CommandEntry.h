#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace kavio {

// One queued command: a unit and a task code.
struct TCommandEntry {
    quint16 Index = 0;
    quint8 Task = 0;

    friend bool operator==(const TCommandEntry&, const TCommandEntry&) = default;
};

// The one-letter device command of a task code; 0 for a code that has none.
char CommandLetterOf(quint8 task);

// The bytes written to a unit for one command: ESC, the password exactly as stored, ESC, the
// command letter, CR. No length, terminator or line feed.
QByteArray CommandFrame(const QByteArray& password, char letter);

} // namespace kavio
