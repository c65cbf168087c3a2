#include "HistoryWriter.h"

#include "Database.h"
#include "Exception.h"
#include "Schema.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>

namespace kavio {
namespace {

// Every text column is NOT NULL: an empty text must not bind as NULL.
QVariant text(const QString& value) {
    return value.isNull() ? QVariant(QStringLiteral("")) : QVariant(value);
}

// SQLite's codes for a database that another connection holds: worth waiting for.
bool isLockError(const QSqlError& error) {
    const int code = error.nativeErrorCode().toInt();
    const int primary = code & 0xff;
    return primary == 5 /* SQLITE_BUSY */ || primary == 6 /* SQLITE_LOCKED */;
}

const QString InsertRow = QStringLiteral(
    R"(INSERT INTO "History" ("Time", "Index", "Name", "IPAddress", "Port", "Command",
 "Task", "Source", "Reply", "Status", "Outcome", "Duration")
 VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?))");

void bindRow(QSqlQuery& query, const HistoryRow& row) {
    query.addBindValue(row.TimeMs);
    query.addBindValue(int(row.Index));
    query.addBindValue(text(row.Name));
    query.addBindValue(text(row.Address));
    query.addBindValue(int(row.Port));
    query.addBindValue(text(row.Command));
    query.addBindValue(int(row.Task));
    query.addBindValue(text(row.Source));
    query.addBindValue(text(row.Reply));
    query.addBindValue(int(row.Status));
    query.addBindValue(text(row.Outcome));
    query.addBindValue(row.DurationMs);
}

} // namespace

void HistoryWriter::insertNow(const HistoryRow& row) {
    QSqlQuery query(Database::connection());
    query.prepare(InsertRow);
    bindRow(query, row);
    if (query.exec())
        return;
    // A file opened only for reading may lack the table; whoever writes the first row adds it.
    for (const QString& statement : schema::historyStatements()) {
        if (!query.exec(statement))
            throw Exception(QStringLiteral("History rows could not be written: %1")
                                .arg(query.lastError().text()));
    }
    query.prepare(InsertRow);
    bindRow(query, row);
    if (!query.exec())
        throw Exception(
            QStringLiteral("History rows could not be written: %1").arg(query.lastError().text()));
}

HistoryWriter::HistoryWriter(QObject* parent)
    : QObject(parent)
    , flushTimer(new QTimer(this)) {
    flushTimer->setSingleShot(true);
    connect(flushTimer, &QTimer::timeout, this, &HistoryWriter::flush);
}

HistoryWriter::~HistoryWriter() {
    // Nobody listens any more: what cannot be written now is lost quietly.
    blockSignals(true);
    try {
        if (!rows.isEmpty() && Database::isOpen())
            flush();
    } catch (const std::exception&) {
    }
}

void HistoryWriter::add(const HistoryRow& row) {
    if (rows.size() >= MaxWaitingRows) {
        rows.removeFirst();
        lose(1, QStringLiteral("too many rows wait for the database"));
    }
    rows.append(row);
    if (!flushTimer->isActive())
        flushTimer->start(FlushDelayMs);
}

bool HistoryWriter::flush() {
    flushTimer->stop();
    if (rows.isEmpty())
        return true;
    if (!Database::isOpen()) {
        flushTimer->start(RetryMs);
        return false;
    }
    QSqlDatabase db = Database::connection();
    QSqlQuery query(db);
    QSqlError error;
    // A file opened only for reading may lack the table; whoever writes the first row adds it.
    for (const QString& statement : schema::historyStatements()) {
        if (!query.exec(statement)) {
            error = query.lastError();
            break;
        }
    }
    if (!error.isValid() && !query.exec(QStringLiteral("BEGIN IMMEDIATE")))
        error = query.lastError();
    if (!error.isValid()) {
        query.prepare(InsertRow);
        for (const HistoryRow& row : std::as_const(rows)) {
            bindRow(query, row);
            if (!query.exec()) {
                error = query.lastError();
                break;
            }
        }
        query.finish();
        if (!error.isValid() && !query.exec(QStringLiteral("COMMIT")))
            error = query.lastError();
        if (error.isValid())
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
    }

    if (!error.isValid()) {
        const int count = int(rows.size());
        rows.clear();
        failing = false;
        emit written(count);
        return true;
    }
    if (isLockError(error)) {
        flushTimer->start(RetryMs);
        return false;
    }
    const qsizetype count = rows.size();
    rows.clear();
    lose(count, error.text());
    return true;
}

void HistoryWriter::lose(qsizetype count, const QString& error) {
    lostRows += count;
    if (failing)
        return;
    failing = true;
    emit rowsLost(QStringLiteral("History rows could not be written: %1").arg(error));
}

} // namespace kavio
