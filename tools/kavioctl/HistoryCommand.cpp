#include "ControlCharacters.h"
#include "CtlCommands.h"
#include "Exception.h"
#include "HistoryFilterWords.h"
#include "HistoryQuery.h"
#include "UnitDirectory.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QTextStream>

namespace kavio::ctl {
namespace {

int badFilter(QTextStream& err, const QString& problem) {
    err << "kavioctl: " << escapeControlCharacters(problem) << '\n';
    return ExitFailed;
}

} // namespace

int runHistory(const HistoryOptions& options, QTextStream& out, QTextStream& err) {
    HistoryFilter filter;
    if (!options.unit.isNull() && !options.group.isNull())
        return badFilter(err, QStringLiteral("give either --unit or --group, not both"));
    if (QString problem; !readHistoryFilterWords(options.since, options.until, options.source,
                                                 QDateTime::currentDateTime(), filter, problem))
        return badFilter(err, problem);
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
        err << "kavioctl: " << escapeControlCharacters(error.message()) << '\n';
        return ExitFailed;
    }
    return ExitOk;
}

} // namespace kavio::ctl
