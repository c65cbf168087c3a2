#pragma once

#include <QString>

namespace kavio {

// A change of several statements that lands whole or not at all. It is an SQLite savepoint, so it
// works alone (it then is a transaction of its own, written when committed) and inside a
// transaction a caller already holds (its changes then land with that one). Dropped without
// commit(), it takes back everything done since it began. Failures throw a DatabaseError naming
// `table` and the file.
class WriteTransaction {
public:
    explicit WriteTransaction(const QString& table);
    ~WriteTransaction();
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;

    void commit();

private:
    QString m_table;
    bool m_open = false;
};

// The lock for a long change by a program that must not be overtaken between reading and writing
// (BEGIN IMMEDIATE): no other program writes until it is committed or abandoned.
namespace writeLock {

enum class Outcome { Taken, Busy, Failed };

// Tries for the lock, waiting at most `waitMs` for another program's lock; the reason of a
// failure goes to `problem`.
Outcome take(int waitMs, QString& problem);
// Writes what was changed under the lock; false, with the reason in `problem`, when it cannot.
bool commit(QString& problem);
// Ends the lock, changing nothing.
void abandon();

} // namespace writeLock
} // namespace kavio
