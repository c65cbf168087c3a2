#include "UnitDirectory.h"

#include "ControlCharacters.h"
#include "Database.h"
#include "Exception.h"
#include "NameOrder.h"
#include "Schema.h"
#include "SqlRunner.h"
#include "TimerMark.h"

#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>

namespace kavio::directory {
namespace {

QString validKey() {
    return schema::validKeyCondition(QStringLiteral("Index"));
}

std::vector<UnitTarget> readTargets(QSqlQuery& query) {
    std::vector<UnitTarget> units;
    while (query.next())
        units.push_back({quint16(query.value(0).toUInt()), query.value(1).toString(),
                         query.value(2).toLongLong()});
    kavio::sortByName(units, [](const UnitTarget& unit) { return unit.name; });
    return units;
}

// Every unit and group with a valid key, by key; the password only when asked for.
QString recordsStatement(bool withPasswords) {
    return QStringLiteral("SELECT \"Index\", \"Name\", \"Group\" = 1, \"IPAddress\", \"Port\", %1, "
                          "\"Status\", %3 FROM \"Master\" WHERE (\"Group\" = 0 OR \"Group\" "
                          "= 1) AND %2 ORDER BY \"Index\"")
        .arg(withPasswords ? QStringLiteral("\"Password\"") : QStringLiteral("NULL"), validKey(),
             timerMarkColumn());
}

StoredRecord recordOf(const QSqlQuery& row) {
    StoredRecord record;
    record.index = quint16(row.value(0).toUInt());
    record.name = row.value(1).toString();
    record.group = row.value(2).toLongLong() != 0;
    record.address = row.value(3).toString();
    record.port = row.value(4).toString();
    record.password = row.value(5).toString();
    record.status = row.value(6).toLongLong();
    record.timer = row.value(7).toLongLong() != 0;
    return record;
}

UnitTarget targetOf(const StoredRecord& record) {
    return UnitTarget{record.index, record.name, record.status};
}

} // namespace

void sortByName(std::vector<StoredRecord>& records) {
    kavio::sortByName(records, [](const StoredRecord& record) { return record.name; });
}

std::vector<StoredRecord> readStore(bool withPasswords) {
    QSqlQuery master = runQuery(QStringLiteral("Master.DB"), recordsStatement(withPasswords));
    std::vector<StoredRecord> groups;
    std::vector<StoredRecord> units;
    while (master.next()) {
        StoredRecord record = recordOf(master);
        (record.group ? groups : units).push_back(std::move(record));
    }
    sortByName(groups);
    sortByName(units);

    // Each unit's groups, in the order the groups are listed.
    QHash<quint16, int> groupPosition;
    for (int position = 0; position < int(groups.size()); ++position)
        groupPosition.insert(groups[size_t(position)].index, position);
    QHash<quint16, int> unitPosition;
    for (int position = 0; position < int(units.size()); ++position)
        unitPosition.insert(units[size_t(position)].index, position);
    std::vector<std::vector<int>> memberships(units.size());
    QSqlQuery rows = runQuery(
        QStringLiteral("Group.DB"),
        QStringLiteral("SELECT \"GroupIndex\", \"Index\" FROM \"Group\" WHERE %1 ORDER BY rowid")
            .arg(schema::validKeysCondition(*schema::find(QStringLiteral("Group")))));
    while (rows.next()) {
        const auto group = groupPosition.constFind(quint16(rows.value(0).toUInt()));
        const auto unit = unitPosition.constFind(quint16(rows.value(1).toUInt()));
        if (group != groupPosition.cend() && unit != unitPosition.cend())
            memberships[size_t(*unit)].push_back(*group);
    }
    for (size_t unit = 0; unit < units.size(); ++unit) {
        std::vector<int>& positions = memberships[unit];
        std::sort(positions.begin(), positions.end());
        positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
        for (int position : positions)
            units[unit].groups << groups[size_t(position)].name;
    }

    std::vector<StoredRecord> all = std::move(groups);
    all.insert(all.end(), std::make_move_iterator(units.begin()),
               std::make_move_iterator(units.end()));
    return all;
}

QList<UnitTarget> resolveTargets(const QStringList& names, bool all, QStringList& problems) {
    const std::vector<StoredRecord> records = readStore(false);
    QList<UnitTarget> targets;
    QSet<quint16> taken;
    auto add = [&](const StoredRecord& record) {
        if (!record.group && !taken.contains(record.index)) {
            taken.insert(record.index);
            targets << targetOf(record);
        }
    };

    if (all) {
        for (const StoredRecord& record : records)
            add(record);
    }
    for (const QString& name : names) {
        bool found = false;
        for (const StoredRecord& record : records) {
            if (record.name != name)
                continue;
            found = true;
            if (!record.group) {
                add(record);
                continue;
            }
            const QSet<quint16> members = memberKeys(record.index);
            int count = 0;
            for (const StoredRecord& unit : records) {
                if (!unit.group && members.contains(unit.index)) {
                    add(unit);
                    ++count;
                }
            }
            if (count == 0)
                problems << QStringLiteral("the group \"%1\" has no units")
                                .arg(escapeControlCharacters(name));
        }
        if (!found)
            problems << QStringLiteral("no unit or group is named \"%1\"")
                            .arg(escapeControlCharacters(name));
    }
    return targets;
}

QList<UnitTarget> unitsByKey() {
    std::vector<StoredRecord> records = readStore(false);
    std::sort(records.begin(), records.end(),
              [](const StoredRecord& a, const StoredRecord& b) { return a.index < b.index; });
    QList<UnitTarget> units;
    for (const StoredRecord& record : records) {
        if (!record.group)
            units << targetOf(record);
    }
    return units;
}

QList<quint16> unitKeys() {
    QSqlQuery query = runQuery(
        QStringLiteral("Master.DB"),
        QStringLiteral(R"(SELECT "Index" FROM "Master" WHERE "Group" = 0 AND %1 ORDER BY "Index")")
            .arg(validKey()));
    QList<quint16> keys;
    while (query.next())
        keys << quint16(query.value(0).toUInt());
    return keys;
}

std::optional<UnitTarget> findUnit(const QString& name) {
    QSqlQuery query = runQuery(QStringLiteral("Master.DB"),
                               QStringLiteral(R"(SELECT "Index", "Name", "Status" FROM "Master"
 WHERE "Group" = 0 AND "Name" = ? AND %1 ORDER BY "Index" LIMIT 1)")
                                   .arg(validKey()),
                               {name});
    std::vector<UnitTarget> units = readTargets(query);
    if (units.empty())
        return std::nullopt;
    return units.front();
}

std::vector<UnitTarget> unitsAtAddress(const QString& address) {
    QSqlQuery query = runQuery(QStringLiteral("Master.DB"),
                               QStringLiteral(R"(SELECT "Index", "Name", "Status" FROM "Master"
 WHERE "Group" = 0 AND "IPAddress" = ? AND %1 ORDER BY "Index")")
                                   .arg(validKey()),
                               {address});
    return readTargets(query);
}

std::optional<UnitTarget> findGroup(const QString& name) {
    QSqlQuery query = runQuery(
        QStringLiteral("Master.DB"),
        QStringLiteral(R"(SELECT "Index" FROM "Master" WHERE "Group" = 1 AND "Name" = ? AND %1
 ORDER BY "Index" LIMIT 1)")
            .arg(validKey()),
        {name});
    if (!query.next())
        return std::nullopt;
    return UnitTarget{quint16(query.value(0).toUInt()), name, 0};
}

QList<UnitTarget> groupMembers(const QString& name) {
    QSqlQuery query = runQuery(
        QStringLiteral("Master.DB"),
        QStringLiteral(R"(SELECT "Index", "Name", "Status" FROM "Master" WHERE "Group" = 0 AND %1
 AND "Index" IN (SELECT "Index" FROM "Group" WHERE "GroupIndex" IN
 (SELECT "Index" FROM "Master" WHERE "Group" = 1 AND "Name" = ? AND %1)) ORDER BY "Index")")
            .arg(validKey()),
        {name});
    const std::vector<UnitTarget> units = readTargets(query);
    return QList<UnitTarget>(units.cbegin(), units.cend());
}

std::optional<StoredRecord> readUnit(const QString& name) {
    QSqlQuery query =
        runQuery(QStringLiteral("Master.DB"),
                 QStringLiteral(R"(SELECT "Index", "IPAddress", "Port", "Status", %1 FROM "Master"
 WHERE "Group" = 0 AND "Name" = ? AND %2 ORDER BY "Index" LIMIT 1)")
                     .arg(timerMarkColumn(), validKey()),
                 {name});
    if (!query.next())
        return std::nullopt;
    StoredRecord record;
    record.index = quint16(query.value(0).toUInt());
    record.name = name;
    record.address = query.value(1).toString();
    record.port = query.value(2).toString();
    record.status = query.value(3).toLongLong();
    record.timer = query.value(4).toLongLong() != 0;
    QSqlQuery groups =
        runQuery(QStringLiteral("Group.DB"),
                 QStringLiteral(R"(SELECT DISTINCT "Master"."Name" FROM "Group" JOIN "Master"
 ON "Master"."Index" = "Group"."GroupIndex" WHERE "Group"."Index" = ? AND "Master"."Group" = 1)"),
                 {record.index});
    std::vector<QString> names;
    while (groups.next())
        names.push_back(groups.value(0).toString());
    kavio::sortByName(names, [](const QString& each) { return each; });
    for (const QString& each : names)
        record.groups << each;
    return record;
}

QHash<quint16, QString> namesOf(const QSet<quint16>& keys) {
    QHash<quint16, QString> names;
    if (keys.isEmpty())
        return names;
    QStringList list;
    for (const quint16 key : keys)
        list << QString::number(key);
    QSqlQuery query =
        runQuery(QStringLiteral("Master.DB"),
                 QStringLiteral(R"(SELECT "Index", "Name" FROM "Master" WHERE "Index" IN (%1))")
                     .arg(list.join(QLatin1Char(','))));
    while (query.next())
        names.insert(quint16(query.value(0).toUInt()), query.value(1).toString());
    return names;
}

QSet<quint16> memberKeys(quint16 group) {
    QSqlQuery rows =
        runQuery(QStringLiteral("Group.DB"),
                 QStringLiteral("SELECT \"Index\" FROM \"Group\" WHERE \"GroupIndex\" = ? AND %1")
                     .arg(schema::validKeysCondition(*schema::find(QStringLiteral("Group")))),
                 {group});
    QSet<quint16> keys;
    while (rows.next())
        keys.insert(quint16(rows.value(0).toUInt()));
    return keys;
}

std::optional<RecordKind> kindOf(quint16 index) {
    QSqlQuery query =
        runQuery(QStringLiteral("Master.DB"),
                 QStringLiteral("SELECT \"Group\", \"Status\" FROM \"Master\" WHERE \"Index\" = ?"),
                 {index});
    if (!query.next())
        return std::nullopt;
    return RecordKind{query.value(0).toLongLong() != 0, quint8(query.value(1).toUInt())};
}

std::vector<quint16> memberKeysInRowOrder(quint16 group) {
    QSqlQuery rows = runQuery(
        QStringLiteral("Group.DB"),
        QStringLiteral(
            "SELECT \"Index\" FROM \"Group\" WHERE \"GroupIndex\" = ? AND %1 ORDER BY rowid")
            .arg(schema::validKeysCondition(*schema::find(QStringLiteral("Group")))),
        {group});
    std::vector<quint16> keys;
    while (rows.next())
        keys.push_back(quint16(rows.value(0).toUInt()));
    return keys;
}

std::vector<UnitTarget> unitMembersByKey(quint16 group) {
    QSqlQuery query(Database::connection());
    query.setForwardOnly(true);
    if (!tryQuery(query,
                  QStringLiteral(R"(SELECT DISTINCT m."Index", m."Name" FROM "Group" g
JOIN "Master" m ON m."Index" = g."Index" WHERE g."GroupIndex" = ? AND %1
  AND COALESCE(m."Group", 0) = 0 ORDER BY m."Index")")
                      .arg(schema::validKeyCondition(QStringLiteral("Index"), QStringLiteral("m"))),
                  {group}))
        throw DatabaseError(QStringLiteral("Table Group.DB: the members of group %1 cannot be "
                                           "read: %2")
                                .arg(group)
                                .arg(query.lastError().text()));
    std::vector<UnitTarget> members;
    while (query.next())
        members.push_back({quint16(query.value(0).toUInt()), query.value(1).toString(), 0});
    return members;
}

std::vector<StoredRecord> recordsByKey() {
    QSqlQuery query = runQuery(QStringLiteral("Master.DB"),
                               QStringLiteral(R"(SELECT "Index", "Name", "Group" FROM "Master"
 WHERE %1 ORDER BY "Index")")
                                   .arg(validKey()));
    std::vector<StoredRecord> records;
    while (query.next()) {
        StoredRecord record;
        record.index = quint16(query.value(0).toUInt());
        record.name = query.value(1).toString();
        record.group = query.value(2).toBool();
        records.push_back(std::move(record));
    }
    return records;
}

RawStore readRaw(const QSqlDatabase& db) {
    RawStore raw;
    QSqlQuery master = runQuery(db, QStringLiteral("Master.DB"), recordsStatement(false));
    while (master.next()) {
        StoredRecord record = recordOf(master);
        (record.group ? raw.groups : raw.units).push_back(std::move(record));
    }
    QSqlQuery rows =
        runQuery(db, QStringLiteral("Group.DB"),
                 QStringLiteral("SELECT \"GroupIndex\", \"Index\" FROM \"Group\" WHERE %1")
                     .arg(schema::validKeysCondition(*schema::find(QStringLiteral("Group")))));
    while (rows.next())
        raw.memberships.emplace_back(quint16(rows.value(0).toUInt()),
                                     quint16(rows.value(1).toUInt()));
    return raw;
}

qint64 dataVersion(const QSqlDatabase& db) {
    QSqlQuery version(db);
    version.setForwardOnly(true);
    if (!tryQuery(version, QStringLiteral("PRAGMA data_version")))
        throw DatabaseError(
            QStringLiteral("The units cannot be read: %1").arg(version.lastError().text()));
    const qint64 now = version.next() ? version.value(0).toLongLong() : -1;
    version.finish();
    return now;
}

void addLookupIndexes() {
    QSqlQuery index(Database::connection());
    index.exec(QStringLiteral(R"(CREATE INDEX IF NOT EXISTS "MasterByName" ON "Master" ("Name"))"));
    index.exec(QStringLiteral(
        R"(CREATE INDEX IF NOT EXISTS "MasterByAddress" ON "Master" ("IPAddress"))"));
}

} // namespace kavio::directory
