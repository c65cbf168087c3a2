#include "HistoryQuery.h"

#include "Database.h"
#include "Exception.h"
#include "Schema.h"
#include "StatusWords.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariantList>

namespace kavio {
namespace {

const QString Columns = QStringLiteral(
    R"("Id", "Time", "Index", "Name", "IPAddress", "Port", "Command", "Task", "Source", "Reply",
 "Status", "Outcome", "Duration")");

bool hasHistoryTable(QSqlDatabase& db) {
    QSqlQuery query(db);
    return query.exec(QStringLiteral(
               "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'History'")) &&
           query.next();
}

[[noreturn]] void fail(const QSqlQuery& query) {
    throw DatabaseError(
        QStringLiteral("The history cannot be read: %1").arg(query.lastError().text()));
}

QString placeholders(qsizetype count) {
    QStringList marks;
    for (qsizetype i = 0; i < count; ++i)
        marks << QStringLiteral("?");
    return marks.join(QStringLiteral(", "));
}

HistoryRow rowOf(const QSqlQuery& query) {
    HistoryRow row;
    row.TimeMs = query.value(1).toLongLong();
    row.Index = quint16(query.value(2).toUInt());
    row.Name = query.value(3).toString();
    row.Address = query.value(4).toString();
    row.Port = quint16(query.value(5).toUInt());
    row.Command = query.value(6).toString();
    row.Task = quint8(query.value(7).toUInt());
    row.Source = query.value(8).toString();
    row.Reply = query.value(9).toString();
    row.Status = quint8(query.value(10).toUInt());
    row.Outcome = query.value(11).toString();
    row.DurationMs = query.value(12).toLongLong();
    return row;
}

std::optional<quint16> keyByName(const QString& name, bool group) {
    QSqlDatabase db = Database::connection();
    QSqlQuery query(db);
    query.prepare(QStringLiteral(
        R"(SELECT "Index" FROM "Master" WHERE "Name" = ? AND "Group" = ? ORDER BY "Index" LIMIT 1)"));
    query.addBindValue(name);
    query.addBindValue(group ? 1 : 0);
    if (!query.exec())
        fail(query);
    if (!query.next())
        return std::nullopt;
    return quint16(query.value(0).toUInt());
}

} // namespace

HistoryPage ReadHistory(const HistoryFilter& filter, int limit,
                        const std::optional<HistoryCursor>& after) {
    return ReadHistory(Database::connection(), filter, limit, after);
}

HistoryPage ReadHistory(QSqlDatabase db, const HistoryFilter& filter, int limit,
                        const std::optional<HistoryCursor>& after) {
    HistoryPage page;
    if (!hasHistoryTable(db))
        return page;

    QStringList where;
    QVariantList values;
    if (filter.Unit) {
        where << QStringLiteral(R"("Index" = ?)");
        values << int(*filter.Unit);
    } else if (!filter.UnitName.isNull()) {
        where << QStringLiteral(R"("Name" = ?)");
        values << filter.UnitName;
    }
    if (filter.Group) {
        where << QStringLiteral(
            R"("Index" IN (SELECT "Index" FROM "Group" WHERE "GroupIndex" = ?))");
        values << int(*filter.Group);
    }
    if (!filter.Sources.isEmpty()) {
        where << QStringLiteral(R"("Source" IN (%1))").arg(placeholders(filter.Sources.size()));
        for (const QString& source : filter.Sources)
            values << source;
    }
    if (!filter.Outcomes.isEmpty()) {
        where << QStringLiteral(R"("Outcome" IN (%1))").arg(placeholders(filter.Outcomes.size()));
        for (const QString& outcome : filter.Outcomes)
            values << outcome;
    }
    if (filter.SinceMs != std::numeric_limits<qint64>::min()) {
        where << QStringLiteral(R"("Time" >= ?)");
        values << filter.SinceMs;
    }
    if (filter.UntilMs != std::numeric_limits<qint64>::max()) {
        where << QStringLiteral(R"("Time" < ?)");
        values << filter.UntilMs;
    }
    if (after) {
        where << QStringLiteral(R"(("Time", "Id") < (?, ?))");
        values << after->TimeMs << after->Id;
    }

    QString sql = QStringLiteral(R"(SELECT %1 FROM "History")").arg(Columns);
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    sql += QStringLiteral(R"( ORDER BY "Time" DESC, "Id" DESC)");
    if (limit > 0)
        sql += QStringLiteral(" LIMIT %1").arg(limit + 1);

    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(sql);
    for (const QVariant& value : std::as_const(values))
        query.addBindValue(value);
    if (!query.exec())
        fail(query);
    while (query.next()) {
        if (limit > 0 && page.Rows.size() == limit) {
            page.Next = HistoryCursor{page.Rows.last().TimeMs, page.Ids.last()};
            break;
        }
        page.Ids << query.value(0).toLongLong();
        page.Rows << rowOf(query);
    }
    return page;
}

std::optional<qint64> LastAnswerMs(quint16 index) {
    QSqlDatabase db = Database::connection();
    if (!hasHistoryTable(db))
        return std::nullopt;
    QSqlQuery query(db);
    query.prepare(QStringLiteral(R"(SELECT "Time" FROM "History" WHERE "Index" = ? AND
 "Outcome" = 'answered' ORDER BY "Time" DESC LIMIT 1)"));
    query.addBindValue(int(index));
    if (!query.exec())
        fail(query);
    if (!query.next())
        return std::nullopt;
    return query.value(0).toLongLong();
}

QHash<quint16, qint64> LastAnswers() {
    QHash<quint16, qint64> last;
    QSqlDatabase db = Database::connection();
    if (!hasHistoryTable(db))
        return last;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral(R"(SELECT "Index", max("Time") FROM "History"
 WHERE "Outcome" = 'answered' AND %1 GROUP BY "Index")")
                        .arg(schema::validKeyCondition(QStringLiteral("Index")))))
        fail(query);
    while (query.next())
        last.insert(quint16(query.value(0).toUInt()), query.value(1).toLongLong());
    return last;
}

QString LastAnswerText(quint16 index) {
    try {
        const std::optional<qint64> last = LastAnswerMs(index);
        return QStringLiteral("last answer: %1")
            .arg(last ? QDateTime::fromMSecsSinceEpoch(*last).toString(
                            QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                      : QStringLiteral("none kept"));
    } catch (const Exception&) {
        return QStringLiteral("last answer: unknown");
    }
}

std::optional<quint16> UnitKeyByName(const QString& name) {
    return keyByName(name, false);
}

std::optional<quint16> GroupKeyByName(const QString& name) {
    return keyByName(name, true);
}

bool HistoryHasName(const QString& name) {
    return HistoryHasName(Database::connection(), name);
}

bool HistoryHasName(QSqlDatabase db, const QString& name) {
    if (!hasHistoryTable(db))
        return false;
    QSqlQuery query(db);
    query.prepare(QStringLiteral(R"(SELECT 1 FROM "History" WHERE "Name" = ? LIMIT 1)"));
    query.addBindValue(name);
    if (!query.exec())
        fail(query);
    return query.next();
}

QString HistoryStatusWord(quint8 status) {
    return statusWord(status);
}

const QStringList& HistoryColumns() {
    static const QStringList all = {
        QStringLiteral("time"),        QStringLiteral("key"),     QStringLiteral("unit"),
        QStringLiteral("address"),     QStringLiteral("command"), QStringLiteral("source"),
        QStringLiteral("reply"),       QStringLiteral("status"),  QStringLiteral("outcome"),
        QStringLiteral("duration_ms"),
    };
    return all;
}

QStringList HistoryFields(const HistoryRow& row) {
    return {QDateTime::fromMSecsSinceEpoch(row.TimeMs, Qt::UTC).toString(Qt::ISODateWithMs),
            QString::number(row.Index),
            row.Name,
            row.Port ? QStringLiteral("%1:%2").arg(row.Address).arg(row.Port) : row.Address,
            row.Command,
            row.Source,
            row.Reply,
            HistoryStatusWord(row.Status),
            row.Outcome,
            QString::number(row.DurationMs)};
}

std::optional<qint64> ParseHistoryTime(const QString& text, const QDateTime& now) {
    static const QRegularExpression relative(QStringLiteral("^(\\d{1,9})([smhdw])$"));
    if (const QRegularExpressionMatch m = relative.match(text); m.hasMatch()) {
        static const QHash<QChar, qint64> unitMs = {
            {'s', 1000}, {'m', 60000}, {'h', 3600000}, {'d', 86400000}, {'w', 7 * 86400000LL}};
        return now.toMSecsSinceEpoch() - m.captured(1).toLongLong() * unitMs[m.captured(2)[0]];
    }
    // The whole text: Qt's ISO date reading also takes the date off the front of a date and
    // time, which would make "2026-12-07 12:30" its midnight.
    if (const QDate date = QDate::fromString(text, QStringLiteral("yyyy-MM-dd")); date.isValid())
        return QDateTime(date, QTime(0, 0)).toMSecsSinceEpoch();
    for (const QString& format : {QStringLiteral("HH:mm"), QStringLiteral("HH:mm:ss")}) {
        if (const QTime time = QTime::fromString(text, format); time.isValid())
            return QDateTime(now.date(), time).toMSecsSinceEpoch();
    }
    QString iso = text;
    if (iso.size() > 10 && iso[10] == QLatin1Char(' '))
        iso[10] = QLatin1Char('T');
    if (const QDateTime when = QDateTime::fromString(iso, Qt::ISODateWithMs); when.isValid())
        return when.toMSecsSinceEpoch();
    return std::nullopt;
}

QJsonObject HistoryJson(const HistoryRow& row) {
    return {{QStringLiteral("time"), HistoryFields(row).first()},
            {QStringLiteral("key"), row.Index},
            {QStringLiteral("unit"), row.Name},
            {QStringLiteral("address"), row.Address},
            {QStringLiteral("port"), row.Port},
            {QStringLiteral("command"), row.Command},
            {QStringLiteral("source"), row.Source},
            {QStringLiteral("reply"), row.Reply},
            {QStringLiteral("status"), HistoryStatusWord(row.Status)},
            {QStringLiteral("outcome"), row.Outcome},
            {QStringLiteral("duration_ms"), row.DurationMs}};
}

QJsonArray HistoryJson(const QList<HistoryRow>& rows) {
    QJsonArray array;
    for (const HistoryRow& row : rows)
        array.append(HistoryJson(row));
    return array;
}

QByteArray HistoryCsv(const QList<HistoryRow>& rows) {
    auto line = [](const QStringList& fields) {
        QStringList quoted;
        for (const QString& field : fields) {
            if (field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"')) ||
                field.contains(QLatin1Char('\n')) || field.contains(QLatin1Char('\r')))
                quoted << QLatin1Char('"') +
                              QString(field).replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
                              QLatin1Char('"');
            else
                quoted << field;
        }
        return quoted.join(QLatin1Char(',')).toUtf8() + "\r\n";
    };
    QByteArray out = line(HistoryColumns());
    for (const HistoryRow& row : rows)
        out += line(HistoryFields(row));
    return out;
}

} // namespace kavio
