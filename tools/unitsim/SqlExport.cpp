#include "SqlExport.h"

namespace kavio::sim {

QString sqlLiteral(const QString& text) {
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QStringList masterTableInserts(int count, const QString& address, quint16 basePort,
                               const QString& password, const QString& namePrefix) {
    QStringList statements;
    for (int i = 0; i < count; ++i) {
        statements << QStringLiteral("INSERT INTO \"Master\" (\"Name\",\"IPAddress\",\"Port\","
                                     "\"Password\") VALUES (%1,%2,%3,%4);")
                          .arg(sqlLiteral(QStringLiteral("%1 %2").arg(namePrefix).arg(i + 1)),
                               sqlLiteral(address), QString::number(int(basePort) + i),
                               sqlLiteral(password));
    }
    return statements;
}

} // namespace kavio::sim
