#include "UnitLookups.h"

#include "Database.h"
#include "NameOrder.h"
#include "Schema.h"
#include "TimerMark.h"

#include <QSqlQuery>

namespace kavio::service {

// The units of that exact name (the first by key when several share it, as the list orders equal
// names), or every unit at that address in list order.
std::vector<UnitBrief> findUnits(const QString& wanted, bool byAddress) {
    QSqlQuery query = ctl::runQuery(
        QStringLiteral("Master.DB"),
        QStringLiteral(R"(SELECT "Index", "Name", "Status" FROM "Master" WHERE "Group" = 0 AND
 %1 = ? AND %2 ORDER BY "Index" LIMIT %3)")
            .arg(byAddress ? QStringLiteral(R"("IPAddress")") : QStringLiteral(R"("Name")"),
                 schema::validKeyCondition(QStringLiteral("Index")))
            .arg(byAddress ? -1 : 1),
        {wanted});
    std::vector<UnitBrief> units;
    while (query.next())
        units.push_back({quint16(query.value(0).toUInt()), query.value(1).toString(),
                         query.value(2).toLongLong()});
    sortByName(units, [](const UnitBrief& unit) { return unit.name; });
    return units;
}

std::optional<UnitBrief> findGroup(const QString& name) {
    QSqlQuery query = ctl::runQuery(
        QStringLiteral("Master.DB"),
        QStringLiteral(R"(SELECT "Index" FROM "Master" WHERE "Group" = 1 AND "Name" = ? AND %1
 ORDER BY "Index" LIMIT 1)")
            .arg(schema::validKeyCondition(QStringLiteral("Index"))),
        {name});
    if (!query.next())
        return std::nullopt;
    return UnitBrief{quint16(query.value(0).toUInt()), name, StatusUnknown};
}

// The members of the groups of that name, in list order; read with one statement rather than
// from the whole store.
QList<ctl::UnitTarget> groupMembers(const QString& name) {
    const QString validKey = schema::validKeyCondition(QStringLiteral("Index"));
    QSqlQuery query = ctl::runQuery(
        QStringLiteral("Master.DB"),
        QStringLiteral(R"(SELECT "Index", "Name", "Status" FROM "Master" WHERE "Group" = 0 AND %1
 AND "Index" IN (SELECT "Index" FROM "Group" WHERE "GroupIndex" IN
 (SELECT "Index" FROM "Master" WHERE "Group" = 1 AND "Name" = ? AND %1)) ORDER BY "Index")")
            .arg(validKey),
        {name});
    std::vector<UnitBrief> units;
    while (query.next())
        units.push_back({quint16(query.value(0).toUInt()), query.value(1).toString(),
                         query.value(2).toLongLong()});
    sortByName(units, [](const UnitBrief& unit) { return unit.name; });
    QList<ctl::UnitTarget> targets;
    for (const UnitBrief& unit : units)
        targets << ctl::UnitTarget{unit.index, unit.name, unit.status};
    return targets;
}

std::optional<UnitBrief> findUnit(const QString& name) {
    std::vector<UnitBrief> units = findUnits(name, false);
    if (units.empty())
        return std::nullopt;
    return units.front();
}

// One unit as the listing shows it, read by itself: its row and its groups' names, in list
// order.
std::optional<ctl::StoredRecord> readUnit(const QString& name) {
    QSqlQuery query = ctl::runQuery(
        QStringLiteral("Master.DB"),
        QStringLiteral(R"(SELECT "Index", "IPAddress", "Port", "Status", %1 FROM "Master"
 WHERE "Group" = 0 AND "Name" = ? AND %2 ORDER BY "Index" LIMIT 1)")
            .arg(timerMarkColumn(), schema::validKeyCondition(QStringLiteral("Index"))),
        {name});
    if (!query.next())
        return std::nullopt;
    ctl::StoredRecord record;
    record.index = quint16(query.value(0).toUInt());
    record.name = name;
    record.address = query.value(1).toString();
    record.port = query.value(2).toString();
    record.status = query.value(3).toLongLong();
    record.timer = query.value(4).toLongLong() != 0;
    QSqlQuery groups =
        ctl::runQuery(QStringLiteral("Group.DB"),
                      QStringLiteral(R"(SELECT DISTINCT "Master"."Name" FROM "Group" JOIN "Master"
 ON "Master"."Index" = "Group"."GroupIndex" WHERE "Group"."Index" = ? AND "Master"."Group" = 1)"),
                      {record.index});
    std::vector<QString> names;
    while (groups.next())
        names.push_back(groups.value(0).toString());
    sortByName(names, [](const QString& each) { return each; });
    for (const QString& each : names)
        record.groups << each;
    return record;
}

// The names of these keys, read with one statement.
QHash<quint16, QString> namesOf(const QSet<quint16>& keys) {
    QHash<quint16, QString> names;
    if (keys.isEmpty())
        return names;
    QStringList list;
    for (const quint16 key : keys)
        list << QString::number(key);
    QSqlQuery query = ctl::runQuery(
        QStringLiteral("Master.DB"),
        QStringLiteral(R"(SELECT "Index", "Name" FROM "Master" WHERE "Index" IN (%1))")
            .arg(list.join(QLatin1Char(','))));
    while (query.next())
        names.insert(quint16(query.value(0).toUInt()), query.value(1).toString());
    return names;
}

void createLookupIndexes() {
    // Requests name units by name or address; with tens of thousands of units a walk through
    // Master for each would hold the exchanges up. The indexes change no column and other
    // programs ignore them; without them (the file locked now) the look-ups still work.
    QSqlQuery index(Database::connection());
    index.exec(QStringLiteral(R"(CREATE INDEX IF NOT EXISTS "MasterByName" ON "Master" ("Name"))"));
    index.exec(QStringLiteral(
        R"(CREATE INDEX IF NOT EXISTS "MasterByAddress" ON "Master" ("IPAddress"))"));
}

} // namespace kavio::service
