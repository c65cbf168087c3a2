#include "Schema.h"

#include "Codes.h"

namespace kavio::schema {

const QList<TableSchema>& tables() {
    static const QList<TableSchema> all = {
        {"Master",
         R"(CREATE TABLE IF NOT EXISTS "Master" (
  "Index"     INTEGER PRIMARY KEY AUTOINCREMENT,
  "Name"      TEXT,
  "IPAddress" TEXT,
  "Port"      INTEGER,
  "Password"  TEXT,
  "Group"     INTEGER NOT NULL DEFAULT 0,
  "Timer"     INTEGER NOT NULL DEFAULT 0,
  "Status"    INTEGER NOT NULL DEFAULT 3,
  "Checked"   INTEGER NOT NULL DEFAULT 0
))",
         {"Index", "Name", "IPAddress", "Port", "Password", "Group", "Timer", "Status", "Checked"},
         R"("Index")",
         {"Index"}},
        {"Group",
         R"(CREATE TABLE IF NOT EXISTS "Group" (
  "GroupIndex" INTEGER NOT NULL,
  "Index"      INTEGER NOT NULL
))",
         {"GroupIndex", "Index"},
         "rowid",
         {"GroupIndex", "Index"}},
        {"Timer",
         R"(CREATE TABLE IF NOT EXISTS "Timer" (
  "TimerIndex" INTEGER PRIMARY KEY AUTOINCREMENT,
  "Index"      INTEGER NOT NULL,
  "Task"       INTEGER NOT NULL,
  "Every"      INTEGER NOT NULL,
  "Count"      INTEGER NOT NULL DEFAULT 0,
  "TimeOfDay"  TEXT NOT NULL,
  "DayOfWeek"  INTEGER NOT NULL DEFAULT 0,
  "Month"      INTEGER NOT NULL DEFAULT 0,
  "Date"       TEXT NOT NULL
))",
         {"TimerIndex", "Index", "Task", "Every", "Count", "TimeOfDay", "DayOfWeek", "Month",
          "Date"},
         R"("TimerIndex")",
         {"Index"}},
    };
    return all;
}

const TableSchema* find(const QString& name) {
    for (const TableSchema& table : tables()) {
        if (name == QLatin1String(table.name))
            return &table;
    }
    return nullptr;
}

QString validKeyCondition(const QString& column, const QString& alias) {
    QString quoted = QLatin1Char('"') + column + QLatin1Char('"');
    if (!alias.isEmpty())
        quoted.prepend(alias + QLatin1Char('.'));
    return QStringLiteral("(typeof(%1) = 'integer' AND %1 BETWEEN 1 AND %2)")
        .arg(quoted)
        .arg(MaxUnitIndex);
}

QString validKeysCondition(const TableSchema& table) {
    QStringList parts;
    for (const QString& column : table.unitKeyColumns)
        parts << validKeyCondition(column);
    return parts.join(QStringLiteral(" AND "));
}

const QStringList& indexStatements() {
    static const QStringList all = {
        R"(CREATE INDEX IF NOT EXISTS "GroupByGroupIndex" ON "Group" ("GroupIndex"))",
        R"(CREATE INDEX IF NOT EXISTS "GroupByIndex" ON "Group" ("Index"))",
        R"(CREATE INDEX IF NOT EXISTS "TimerByIndex" ON "Timer" ("Index"))",
    };
    return all;
}

const QStringList& historyStatements() {
    static const QStringList all = {
        R"(CREATE TABLE IF NOT EXISTS "History" (
  "Id"        INTEGER PRIMARY KEY,
  "Time"      INTEGER NOT NULL,
  "Index"     INTEGER NOT NULL,
  "Name"      TEXT NOT NULL,
  "IPAddress" TEXT NOT NULL,
  "Port"      INTEGER NOT NULL,
  "Command"   TEXT NOT NULL,
  "Task"      INTEGER NOT NULL,
  "Source"    TEXT NOT NULL,
  "Reply"     TEXT NOT NULL,
  "Status"    INTEGER NOT NULL,
  "Outcome"   TEXT NOT NULL,
  "Duration"  INTEGER NOT NULL
))",
        R"(CREATE INDEX IF NOT EXISTS "HistoryByTime" ON "History" ("Time"))",
        R"(CREATE INDEX IF NOT EXISTS "HistoryByUnit" ON "History" ("Index", "Time"))",
    };
    return all;
}

} // namespace kavio::schema
