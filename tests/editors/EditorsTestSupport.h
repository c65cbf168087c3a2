#pragma once

#include "Table.h"

#include <QStringList>

namespace kavio::test {

// A Master.DB record as text: Name, IPAddress, Port, Password, Group, Timer, Checked, Status.
inline QStringList masterRecord(quint16 index) {
    TTable master(QStringLiteral("Master.DB"));
    master.open();
    if (!master.findKey(index))
        return {};
    QStringList values;
    for (const char* field :
         {"Name", "IPAddress", "Port", "Password", "Group", "Timer", "Checked", "Status"})
        values << master.fieldByName(QLatin1String(field)).asString();
    return values;
}

inline int recordCount(const char* table) {
    TTable t{QLatin1String(table)};
    t.open();
    return t.recordCount();
}

// A name of 32 characters with quotes, markup, SQL and letters beyond ASCII.
inline QString awkwardName() {
    return QStringLiteral("'\"<b>K</b>\";DROP TABLE Unit--\u00e4\u00df\u0416");
}

} // namespace kavio::test
