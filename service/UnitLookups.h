#pragma once

#include "Codes.h"
#include "StoreRecords.h"
#include "UnitTargets.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <optional>
#include <vector>

namespace kavio::service {

// The store as single requests read it, each with one statement on the service's connection.

// One unit as a command needs it. Read with one statement on its own, so that a request that
// switches a unit costs the same with a thousand units as with one.
struct UnitBrief {
    quint16 index = 0;
    QString name;
    qint64 status = StatusUnknown;
};

std::vector<UnitBrief> findUnits(const QString& wanted, bool byAddress);
std::optional<UnitBrief> findGroup(const QString& name);
QList<ctl::UnitTarget> groupMembers(const QString& name);
std::optional<UnitBrief> findUnit(const QString& name);
std::optional<ctl::StoredRecord> readUnit(const QString& name);
QHash<quint16, QString> namesOf(const QSet<quint16>& keys);
// The indexes these look-ups are served by, made when missing.
void createLookupIndexes();

} // namespace kavio::service
