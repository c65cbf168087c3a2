#include "ListLines.h"

#include "Codes.h"
#include "Database.h"
#include "Exception.h"
#include "Schema.h"
#include "SqlRunner.h"
#include "TimerMark.h"

namespace kavio::lines {
namespace {

const QString MasterTable = QStringLiteral("Master.DB");

// Units and groups whose keys lie outside 1..65535 never reach the list.
QString columnsAndKeys(const QString& from, const QString& where) {
    return QStringLiteral("SELECT m.\"Index\", m.\"Name\", m.\"Group\", m.\"Checked\" FROM %1 "
                          "WHERE %2 AND %3 ORDER BY m.\"Index\"")
        .arg(from, where, schema::validKeyCondition(QStringLiteral("Index"), QStringLiteral("m")));
}

void readListed(QSqlQuery& query, const ListedSink& take) {
    std::vector<char> seen(size_t(MaxUnitIndex) + 1, 0);
    while (query.next()) {
        ListedRecord record;
        record.index = quint16(query.value(0).toUInt());
        if (seen[record.index])
            continue; // a membership row repeated: one line per record
        seen[record.index] = 1;
        record.name = query.value(1).toString();
        record.group = query.value(2).toLongLong() != 0;
        record.checked = query.value(3).toLongLong() != 0;
        take(std::move(record));
    }
}

void readMaster(const QString& where, const ListedSink& take) {
    QSqlQuery query =
        runQuery(MasterTable, columnsAndKeys(QStringLiteral("\"Master\" AS m"), where));
    readListed(query, take);
}

} // namespace

void groupsByKey(const ListedSink& take) {
    readMaster(QStringLiteral("m.\"Group\" = 1"), take);
}

void unitsByKey(const ListedSink& take) {
    readMaster(QStringLiteral("m.\"Group\" = 0"), take);
}

void membersByKey(quint16 group, const ListedSink& take) {
    QSqlQuery query = runQuery(
        QStringLiteral("Group.DB"),
        columnsAndKeys(
            QStringLiteral("\"Group\" AS g JOIN \"Master\" AS m ON m.\"Index\" = g.\"Index\""),
            QStringLiteral("g.\"GroupIndex\" = ?")),
        {group});
    readListed(query, take);
}

std::optional<LineRecord> readLineRecord(quint16 index) {
    QSqlQuery query = runQuery(MasterTable,
                               QStringLiteral("SELECT \"IPAddress\", \"Port\", %1, \"Status\" "
                                              "FROM \"Master\" WHERE \"Index\" = ?")
                                   .arg(timerMarkColumn()),
                               {index});
    if (!query.next())
        return std::nullopt;
    return LineRecord{query.value(0).toString(), query.value(1).toInt(),
                      query.value(2).toLongLong() != 0, quint8(query.value(3).toUInt())};
}

std::unique_ptr<LineStateReader> LineStateReader::open() {
    try {
        std::unique_ptr<LineStateReader> reader(new LineStateReader);
        reader->m_query = QSqlQuery(Database::connection());
        reader->m_query.setForwardOnly(true);
        if (reader->m_query.prepare(QStringLiteral("SELECT \"Group\", \"Status\", %1 FROM "
                                                   "\"Master\" WHERE \"Index\" = ?")
                                        .arg(timerMarkColumn())))
            return reader;
    } catch (const Exception&) {
        // No database open: nothing to read from.
    }
    return nullptr;
}

std::optional<LineState> LineStateReader::read(quint16 index) {
    m_query.bindValue(0, index);
    if (!m_query.exec() || !m_query.next())
        return std::nullopt;
    return LineState{m_query.value(0).toLongLong() != 0, quint8(m_query.value(1).toUInt()),
                     m_query.value(2).toLongLong() != 0};
}

} // namespace kavio::lines
