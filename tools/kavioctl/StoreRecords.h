#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <vector>

class QSqlQuery;

namespace kavio::ctl {

// One unit or group of Master.DB as the store commands show it.
struct StoredRecord {
    quint16 index = 0;
    QString name;
    bool group = false;
    QString address;
    QString port;     // as stored; empty when none
    QString password; // read only when asked for
    qint64 status = 0;
    bool timer = false;
    QStringList groups; // units: the names of the groups it belongs to, in list order
};

// The units and groups in the order of the control center's "All" tab: groups first, then units,
// each sorted by name without regard to letter case, equal names by Index. Only records whose
// key lies in 1..65535 and whose Group holds 0 or 1 are read, like the list does.
std::vector<StoredRecord> readStore(bool withPasswords);

// Sorts by name as the list does: without regard to letter case, in the language's order; equal
// names keep their order.
void sortByName(std::vector<StoredRecord>& records);

// Runs a statement with bound values on the open database; a failure throws a DatabaseError
// naming the table.
QSqlQuery runQuery(const QString& table, const QString& sql, const QVariantList& values = {});

// A text on one line: line breaks, tabs and other control characters written as \n, \r, \t or
// \xHH, so that they cannot break the lines of a listing.
QString oneLine(const QString& text);

} // namespace kavio::ctl
