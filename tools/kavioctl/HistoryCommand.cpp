#include "CommandSource.h"
#include "CtlCommands.h"
#include "Exception.h"
#include "HistoryQuery.h"
#include "StoreRecords.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTextStream>

namespace kavio::ctl {
namespace {

// A relative time ("90s", "15m", "2h", "3d", "1w") counts back from now; otherwise an ISO date
// (its local midnight), a local time of today, or an ISO date and time (local unless it names
// its zone).
std::optional<qint64> parseWhen(const QString& text, const QDateTime& now) {
    static const QRegularExpression relative(QStringLiteral("^(\\d{1,9})([smhdw])$"));
    if (const QRegularExpressionMatch m = relative.match(text); m.hasMatch()) {
        static const QHash<QChar, qint64> unitMs = {
            {'s', 1000}, {'m', 60000}, {'h', 3600000}, {'d', 86400000}, {'w', 7 * 86400000LL}};
        return now.toMSecsSinceEpoch() - m.captured(1).toLongLong() * unitMs[m.captured(2)[0]];
    }
    if (const QDate date = QDate::fromString(text, Qt::ISODate); date.isValid())
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

int badFilter(QTextStream& err, const QString& problem) {
    err << "kavioctl: " << oneLine(problem) << '\n';
    return ExitFailed;
}

QJsonObject jsonOf(const HistoryRow& row) {
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

} // namespace

int runHistory(const HistoryOptions& options, QTextStream& out, QTextStream& err) {
    HistoryFilter filter;
    if (!options.unit.isNull() && !options.group.isNull())
        return badFilter(err, QStringLiteral("give either --unit or --group, not both"));
    const QDateTime now = QDateTime::currentDateTime();
    for (const auto& [text, target] :
         {std::pair{options.since, &filter.SinceMs}, std::pair{options.until, &filter.UntilMs}}) {
        if (text.isNull())
            continue;
        const std::optional<qint64> when = parseWhen(text.trimmed(), now);
        if (!when)
            return badFilter(err, QStringLiteral("'%1' is no time: give an ISO date or time "
                                                 "(2026-12-07, 12:30, 2026-12-07T12:30) or a "
                                                 "relative time (90s, 15m, 2h, 3d, 1w)")
                                      .arg(text));
        *target = *when;
    }
    if (!options.source.isNull()) {
        CommandSource source;
        QString word = options.source;
        word.replace(QLatin1Char('-'), QLatin1Char(' '));
        if (!sourceFromName(word, source))
            return badFilter(err, QStringLiteral("'%1' is no source: give button, popup, poll, "
                                                 "timed-poll, timer, cycle-follow-up, kavioctl "
                                                 "or http")
                                      .arg(options.source));
        filter.Sources << sourceName(source);
    }
    int limit = 0;
    if (!options.limit.isNull()) {
        bool ok = false;
        limit = options.limit.toInt(&ok);
        if (!ok || limit < 1)
            return badFilter(
                err,
                QStringLiteral("'--limit' takes a positive number, not '%1'").arg(options.limit));
    }

    try {
        if (!options.unit.isNull()) {
            if (const std::optional<quint16> key = UnitKeyByName(options.unit))
                filter.Unit = key;
            else if (HistoryHasName(options.unit))
                filter.UnitName = options.unit;
            else
                return badFilter(err, QStringLiteral("no unit is named '%1'").arg(options.unit));
        }
        if (!options.group.isNull()) {
            filter.Group = GroupKeyByName(options.group);
            if (!filter.Group)
                return badFilter(err, QStringLiteral("no group is named '%1'").arg(options.group));
        }
        // The newest rows, printed oldest first like a log.
        QList<HistoryRow> rows = ReadHistory(filter, limit).Rows;
        std::reverse(rows.begin(), rows.end());
        if (options.json) {
            QJsonArray array;
            for (const HistoryRow& row : std::as_const(rows))
                array.append(jsonOf(row));
            out << QJsonDocument(array).toJson(QJsonDocument::Indented);
        } else if (options.csv) {
            out << QString::fromUtf8(HistoryCsv(rows));
        } else {
            for (const HistoryRow& row : std::as_const(rows)) {
                QStringList fields = HistoryFields(row);
                for (QString& field : fields)
                    field = PlainText(field); // a tab or line end in a name stays in its column
                out << fields.join(QLatin1Char('\t')) << '\n';
            }
        }
    } catch (const Exception& error) {
        err << "kavioctl: " << oneLine(error.message()) << '\n';
        return ExitFailed;
    }
    return ExitOk;
}

} // namespace kavio::ctl
