#include "CommandSource.h"
#include "CtlCommands.h"
#include "Exception.h"
#include "HistoryQuery.h"
#include "StoreRecords.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QTextStream>

namespace kavio::ctl {
namespace {

int badFilter(QTextStream& err, const QString& problem) {
    err << "kavioctl: " << oneLine(problem) << '\n';
    return ExitFailed;
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
        const std::optional<qint64> when = ParseHistoryTime(text.trimmed(), now);
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
            out << QJsonDocument(HistoryJson(rows)).toJson(QJsonDocument::Indented);
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
