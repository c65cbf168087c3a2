#include "UndoStore.h"

#include "Codes.h"
#include "Database.h"
#include "Exception.h"
#include "Schema.h"

#include <QDir>
#include <QSqlError>
#include <QSqlQuery>

namespace kavio {
namespace {

const QStringList& columnsOf(const char* table) {
    return schema::find(QLatin1String(table))->requiredColumns;
}

QString columnList(const char* table) {
    QStringList quoted;
    for (const QString& column : columnsOf(table))
        quoted << QLatin1Char('"') + column + QLatin1Char('"');
    return quoted.join(QStringLiteral(", "));
}

// "Table Master.DB of /path cannot be written: <SQLite's words>"
[[noreturn]] void fail(const char* table, const char* what, const QSqlError& error) {
    throw DatabaseError(QStringLiteral("%1 of %2 %3: %4")
                            .arg(table ? QStringLiteral("Table %1.DB").arg(QLatin1String(table))
                                       : QStringLiteral("The database"),
                                 QDir::toNativeSeparators(Database::path()), QLatin1String(what),
                                 error.text()));
}

// The rows of `table` that meet `where` (a condition, or empty for all) and that the program
// sees at all: rows with a key outside 1..65535 are never removed, so they are never kept.
QList<QVariantList> readRows(const char* table, const QString& where, const QVariantList& values) {
    QSqlQuery query(Database::connection());
    query.setForwardOnly(true);
    QString condition = schema::validKeysCondition(*schema::find(QLatin1String(table)));
    if (!where.isEmpty())
        condition += QStringLiteral(" AND ") + where;
    const QString sql = QStringLiteral("SELECT %1 FROM \"%2\" WHERE %3 ORDER BY rowid")
                            .arg(columnList(table), QLatin1String(table), condition);
    bool done = query.prepare(sql);
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (!done || !query.exec())
        fail(table, "cannot be read", query.lastError());
    QList<QVariantList> rows;
    const int count = int(columnsOf(table).size());
    while (query.next()) {
        QVariantList row;
        row.reserve(count);
        for (int column = 0; column < count; ++column)
            row << query.value(column);
        rows << row;
    }
    return rows;
}

// Inserts the rows; `orIgnore` skips rows whose key is there already (a deleted unit's timers
// stay in their table, so they may still be present).
void writeRows(const char* table, const QList<QVariantList>& rows, bool orIgnore) {
    if (rows.isEmpty())
        return;
    const int count = int(columnsOf(table).size());
    QStringList marks;
    for (int column = 0; column < count; ++column)
        marks << QStringLiteral("?");
    QSqlQuery query(Database::connection());
    if (!query.prepare(QStringLiteral("INSERT %1INTO \"%2\" (%3) VALUES (%4)")
                           .arg(orIgnore ? QStringLiteral("OR IGNORE ") : QString(),
                                QLatin1String(table), columnList(table), marks.join(','))))
        fail(table, "cannot be written", query.lastError());
    for (const QVariantList& row : rows) {
        for (int column = 0; column < count; ++column)
            query.bindValue(column, row.value(column));
        if (!query.exec())
            fail(table, "cannot be written", query.lastError());
    }
}

} // namespace

RemovedRows UndoStore::recordRows(quint16 index) {
    RemovedRows rows;
    rows.master = readRows("Master", QStringLiteral("\"Index\" = ?"), {index});
    if (rows.master.isEmpty())
        return rows;
    const bool group = rows.master.first().value(5).toLongLong() != 0;
    const QString name = rows.master.first().value(1).toString();
    rows.description =
        (group ? QStringLiteral("the group \"%1\"") : QStringLiteral("the unit \"%1\"")).arg(name);
    rows.group = readRows(
        "Group", group ? QStringLiteral("\"GroupIndex\" = ?") : QStringLiteral("\"Index\" = ?"),
        {index});
    rows.timer = readRows("Timer", QStringLiteral("\"Index\" = ?"), {index});
    return rows;
}

RemovedRows UndoStore::timerRows(quint32 timerIndex) {
    RemovedRows rows;
    rows.description = QStringLiteral("the timer");
    rows.timer = readRows("Timer", QStringLiteral("\"TimerIndex\" = ?"), {timerIndex});
    return rows;
}

RemovedRows UndoStore::allRows() {
    RemovedRows rows;
    rows.description = QStringLiteral("every unit, group and timer");
    rows.master = readRows("Master", QString(), {});
    rows.group = readRows("Group", QString(), {});
    rows.timer = readRows("Timer", QString(), {});
    return rows;
}

void UndoStore::push(RemovedRows rows) {
    if (rows.master.isEmpty() && rows.group.isEmpty() && rows.timer.isEmpty())
        return;
    kept.push_back(std::move(rows));
    emit changed();
}

QString UndoStore::nextDescription() const {
    return kept.empty() ? QString() : kept.back().description;
}

QString UndoStore::undo() {
    if (kept.empty())
        return {};
    RemovedRows& last = kept.back();
    QSqlDatabase db = Database::connection();
    if (!db.transaction())
        fail(nullptr, "cannot be written", db.lastError());
    try {
        // A record comes back as unknown: its last status is no longer news.
        QList<QVariantList> master = last.master;
        for (QVariantList& row : master)
            row[7] = StatusUnknown;
        writeRows("Master", master, false);
        writeRows("Group", last.group, false);
        writeRows("Timer", last.timer, true);
        if (!db.commit())
            fail(nullptr, "cannot be written", db.lastError());
    } catch (const Exception&) {
        db.rollback();
        throw;
    }
    const QString description = last.description;
    kept.pop_back();
    emit changed();
    emit restored();
    return description;
}

} // namespace kavio
