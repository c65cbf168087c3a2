#include "Schema.h"

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
         R"("Index")"},
        {"Group",
         R"(CREATE TABLE IF NOT EXISTS "Group" (
  "GroupIndex" INTEGER NOT NULL,
  "Index"      INTEGER NOT NULL
))",
         {"GroupIndex", "Index"},
         "rowid"},
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
         R"("TimerIndex")"},
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

const QStringList& indexStatements() {
    static const QStringList all = {
        R"(CREATE INDEX IF NOT EXISTS "GroupByGroupIndex" ON "Group" ("GroupIndex"))",
        R"(CREATE INDEX IF NOT EXISTS "GroupByIndex" ON "Group" ("Index"))",
        R"(CREATE INDEX IF NOT EXISTS "TimerByIndex" ON "Timer" ("Index"))",
    };
    return all;
}

} // namespace kavio::schema
