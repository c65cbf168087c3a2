#include "UnitTargets.h"

#include "StoreRecords.h"

#include <QSet>
#include <QSqlQuery>
#include <vector>

namespace kavio::ctl {
namespace {

UnitTarget targetOf(const StoredRecord& record) {
    return UnitTarget{record.index, record.name, record.status};
}

// The members of a group, as their keys; a row whose unit is gone or is a group adds nothing.
QSet<quint16> memberKeys(quint16 group) {
    QSqlQuery query = runQuery(QStringLiteral("Group.DB"),
                               QStringLiteral("SELECT g.\"Index\" FROM \"Group\" AS g "
                                              "WHERE g.\"GroupIndex\" = ?"),
                               {group});
    QSet<quint16> keys;
    while (query.next()) {
        const qint64 key = query.value(0).toLongLong();
        if (key >= 1 && key <= 65535)
            keys.insert(quint16(key));
    }
    return keys;
}

} // namespace

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
                problems << QStringLiteral("the group \"%1\" has no units").arg(oneLine(name));
        }
        if (!found)
            problems << QStringLiteral("no unit or group is named \"%1\"").arg(oneLine(name));
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

} // namespace kavio::ctl
