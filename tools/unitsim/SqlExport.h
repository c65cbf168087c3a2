#pragma once

#include <QString>
#include <QStringList>

namespace kavio::sim {

// An SQL string literal: single quotes around, inner quotes doubled.
QString sqlLiteral(const QString& text);

// INSERT statements, one per unit, that register `count` simulated units on consecutive ports
// in the control center's "Master" table, named "<namePrefix> 1", "<namePrefix> 2", ...
QStringList masterTableInserts(int count, const QString& address, quint16 basePort,
                               const QString& password,
                               const QString& namePrefix = QStringLiteral("Sim unit"));

} // namespace kavio::sim
