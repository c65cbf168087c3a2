#pragma once

#include <QStringList>

namespace kavio::schema {

// The three tables of the database and their columns, exactly as installation steps create them.
struct TableSchema {
    const char* name;
    const char* createStatement;
    QStringList requiredColumns;
    const char* orderBy; // the order in which a walk visits records
};

const QList<TableSchema>& tables();
const TableSchema* find(const QString& name);

// Indexes that speed up the program's own look-ups; never change the columns.
const QStringList& indexStatements();

} // namespace kavio::schema
