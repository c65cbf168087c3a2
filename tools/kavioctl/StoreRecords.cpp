#include "StoreRecords.h"

#include "Database.h"
#include "Exception.h"
#include "NameOrder.h"
#include "Schema.h"
#include "TimerMark.h"

#include <QDir>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>

namespace kavio::ctl {

QSqlQuery runQuery(const QString& table, const QString& sql, const QVariantList& values) {
    QSqlQuery query(Database::connection());
    query.setForwardOnly(true);
    bool done = query.prepare(sql);
    if (done) {
        for (const QVariant& value : values)
            query.addBindValue(value);
        done = query.exec();
    }
    if (!done)
        throw DatabaseError(
            QStringLiteral("Table %1 of %2 cannot be read: %3")
                .arg(table, QDir::toNativeSeparators(Database::path()), query.lastError().text()));
    return query;
}

void sortByName(std::vector<StoredRecord>& records) {
    kavio::sortByName(records, [](const StoredRecord& record) { return record.name; });
}

std::vector<StoredRecord> readStore(bool withPasswords) {
    const QString validKey = schema::validKeyCondition(QStringLiteral("Index"));
    QSqlQuery master = runQuery(
        QStringLiteral("Master.DB"),
        QStringLiteral("SELECT \"Index\", \"Name\", \"Group\" = 1, \"IPAddress\", \"Port\", %1, "
                       "\"Status\", %3 FROM \"Master\" WHERE (\"Group\" = 0 OR \"Group\" "
                       "= 1) AND %2 ORDER BY \"Index\"")
            .arg(withPasswords ? QStringLiteral("\"Password\"") : QStringLiteral("NULL"), validKey,
                 timerMarkColumn()));
    std::vector<StoredRecord> groups;
    std::vector<StoredRecord> units;
    while (master.next()) {
        StoredRecord record;
        record.index = quint16(master.value(0).toUInt());
        record.name = master.value(1).toString();
        record.group = master.value(2).toLongLong() != 0;
        record.address = master.value(3).toString();
        record.port = master.value(4).toString();
        record.password = master.value(5).toString();
        record.status = master.value(6).toLongLong();
        record.timer = master.value(7).toLongLong() != 0;
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

QString oneLine(const QString& text) {
    const auto control = [](QChar c) {
        const char16_t code = c.unicode();
        return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x2028 || code == 0x2029;
    };
    if (std::none_of(text.cbegin(), text.cend(), control))
        return text;
    QString line;
    line.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code == u'\n') {
            line += QStringLiteral("\\n");
        } else if (code == u'\r') {
            line += QStringLiteral("\\r");
        } else if (code == u'\t') {
            line += QStringLiteral("\\t");
        } else if (code < 0x20 || (code >= 0x7F && code <= 0x9F)) {
            line += QStringLiteral("\\x%1").arg(int(code), 2, 16, QLatin1Char('0'));
        } else if (code == 0x2028 || code == 0x2029) {
            line += QStringLiteral("\\u%1").arg(int(code), 4, 16, QLatin1Char('0'));
        } else {
            line += c;
        }
    }
    return line;
}

} // namespace kavio::ctl
