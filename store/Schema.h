#pragma once

#include <QStringList>

namespace kavio::schema {

// The version a file's PRAGMA user_version holds once its records follow this program's rules.
// Files that older programs wrote hold 0; their first writable open migrates them
// (TimerMigration.h) and sets it.
constexpr int Version = 1;

// The three tables of the database and their columns, exactly as installation steps create them.
struct TableSchema {
    const char* name;
    const char* createStatement;
    QStringList requiredColumns;
    const char* orderBy; // the order in which a walk visits records
    // Columns holding a unit's key, which every consumer holds in 16 bits: a record where one of
    // them lies outside 1..65535 is never read, listed or written.
    QStringList unitKeyColumns;
};

const QList<TableSchema>& tables();
const TableSchema* find(const QString& name);

// The SQL condition a record of `table` must meet to be seen at all: every unit key a whole number
// in 1..65535.
QString validKeysCondition(const TableSchema& table);
// The same for one column; with an `alias`, for that column of the table the query names so.
QString validKeyCondition(const QString& column, const QString& alias = {});

// Indexes that speed up the program's own look-ups; never change the columns.
const QStringList& indexStatements();

// The History table, one row per finished exchange, and its indexes (by time, and by unit and
// time). Programs that do not know it ignore it; it is created when missing.
const QStringList& historyStatements();

} // namespace kavio::schema
