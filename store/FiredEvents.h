#pragma once

#include <QDate>
#include <QSet>
#include <QString>
#include <QStringList>

// What the timers fired (or logged as missed), kept in the database rather than in a program's
// memory, so that no event fires twice: not after a restart within its minute, nor when another
// program (the service, the window) takes the timers over. Each event is known by a key that
// tells it from every other of its day. The table is made by the first program that records an
// event; programs that do not know it ignore it.
namespace kavio::FiredEvents {

// Records the events `keys` of `day` as served, in one transaction, and returns those that no
// program had recorded before: only these are to be fired. Throws DatabaseError when the file
// cannot be written (another program holding it beyond the busy timeout, a read-only file).
QSet<QString> claim(const QDate& day, const QStringList& keys);

// The events of `day` recorded as served; none in a file that has no record yet. Throws
// DatabaseError.
QSet<QString> servedOn(const QDate& day);

// Forgets the days before `day`. Throws DatabaseError.
void forgetBefore(const QDate& day);

} // namespace kavio::FiredEvents
