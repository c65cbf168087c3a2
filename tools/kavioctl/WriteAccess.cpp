#include "WriteAccess.h"

#include "ControlCharacters.h"
#include "Database.h"
#include "UnitDirectory.h"

#include <QDir>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>

namespace kavio::ctl {
namespace {

// SQLite's code for a database that another connection has locked.
const QString Busy = QStringLiteral("5");

void setBusyTimeout(QSqlDatabase& db, qint64 ms) {
    QSqlQuery(db).exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(ms));
}

} // namespace

bool beginWriting(int waitMs, QTextStream& err) {
    QSqlDatabase db = Database::connection();
    const QString name = escapeControlCharacters(QDir::toNativeSeparators(Database::path()));
    QSqlQuery begin(db);
    setBusyTimeout(db, 0);
    bool began = begin.exec(QStringLiteral("BEGIN IMMEDIATE"));
    if (!began && begin.lastError().nativeErrorCode() == Busy && waitMs > 0) {
        err << "kavioctl: waiting up to " << (waitMs + 999) / 1000
            << " s for another program to finish writing to " << name << '\n';
        err.flush();
        setBusyTimeout(db, waitMs);
        began = begin.exec(QStringLiteral("BEGIN IMMEDIATE"));
    }
    setBusyTimeout(db, Database::BusyTimeoutMs);
    if (!began)
        err << "kavioctl: the database " << name
            << " cannot be written now: " << escapeControlCharacters(begin.lastError().text())
            << '\n';
    return began;
}

void abandonWriting() {
    QSqlQuery(Database::connection()).exec(QStringLiteral("ROLLBACK"));
}

} // namespace kavio::ctl
