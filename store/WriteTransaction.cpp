#include "WriteTransaction.h"

#include "Database.h"
#include "Exception.h"

#include <QDir>
#include <QSqlError>
#include <QSqlQuery>

namespace kavio {
namespace {

// Savepoints of one name nest: each RELEASE or ROLLBACK TO acts on the latest.
const QString Savepoint = QStringLiteral("kavio_write");

// SQLite's code for a database that another connection has locked.
const QString Busy = QStringLiteral("5");

bool execute(const QString& statement, QSqlError* error = nullptr) {
    QSqlQuery query(Database::connection());
    if (query.exec(statement))
        return true;
    if (error)
        *error = query.lastError();
    return false;
}

[[noreturn]] void fail(const QString& table, const QSqlError& error) {
    throw DatabaseError(QStringLiteral("Table %1 of %2 cannot be written: %3")
                            .arg(table, QDir::toNativeSeparators(Database::path()), error.text()));
}

void setBusyTimeout(qint64 ms) {
    execute(QStringLiteral("PRAGMA busy_timeout = %1").arg(ms));
}

} // namespace

WriteTransaction::WriteTransaction(const QString& table)
    : m_table(table) {
    QSqlError error;
    if (!execute(QStringLiteral("SAVEPOINT ") + Savepoint, &error))
        fail(m_table, error);
    m_open = true;
}

WriteTransaction::~WriteTransaction() {
    if (!m_open)
        return;
    execute(QStringLiteral("ROLLBACK TO ") + Savepoint);
    execute(QStringLiteral("RELEASE ") + Savepoint);
}

void WriteTransaction::commit() {
    QSqlError error;
    m_open = false;
    if (execute(QStringLiteral("RELEASE ") + Savepoint, &error))
        return;
    // Only the outermost release writes the file, so only it can fail; the transaction is then
    // still open and is taken back whole.
    execute(QStringLiteral("ROLLBACK"));
    fail(m_table, error);
}

namespace writeLock {

Outcome take(int waitMs, QString& problem) {
    QSqlError error;
    setBusyTimeout(waitMs);
    const bool taken = execute(QStringLiteral("BEGIN IMMEDIATE"), &error);
    setBusyTimeout(Database::BusyTimeoutMs);
    if (taken)
        return Outcome::Taken;
    problem = error.text();
    return error.nativeErrorCode() == Busy ? Outcome::Busy : Outcome::Failed;
}

bool commit(QString& problem) {
    QSqlError error;
    if (execute(QStringLiteral("COMMIT"), &error))
        return true;
    problem = error.text();
    return false;
}

void abandon() {
    execute(QStringLiteral("ROLLBACK"));
}

} // namespace writeLock
} // namespace kavio
