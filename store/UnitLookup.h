#pragma once

#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <optional>

namespace kavio {

// What an exchange needs of a unit's record.
struct UnitRecord {
    QString name;
    QString address;
    QVariant port; // as stored: the exchange checks it before dialling
    QString password;
    bool group = false;
};

// Reads single units of Master.DB by key with one statement prepared once, for callers that look
// up many keys in a row (the queue draining entries of units that are gone). Keep an object only
// while the database stays open.
class UnitLookup {
public:
    // The record with this Index; nullopt when there is none (or its key lies outside 1..65535,
    // which no walk serves). Throws DatabaseError when the file cannot be read.
    std::optional<UnitRecord> find(quint16 index);

private:
    std::optional<QSqlQuery> m_query;
};

} // namespace kavio
