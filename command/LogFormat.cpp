#include "LogFormat.h"

#include <QDateTime>

namespace kavio {
namespace {

QString unitPart(const QString& name, const QString& address, quint16 port) {
    QString part = PlainText(name);
    if (!address.isEmpty()) {
        if (!part.isEmpty())
            part += QLatin1Char(' ');
        part += PlainText(address);
        if (port != 0)
            part += QLatin1Char(':') + QString::number(port);
    }
    return part;
}

} // namespace

QString FormatLogLine(const TLogLine& line) {
    QString out = QDateTime::fromMSecsSinceEpoch(line.TimeMs).toString(QStringLiteral("HH:mm:ss"));
    const QString unit = unitPart(line.Name, line.Address, line.Port);
    if (!unit.isEmpty())
        out += QLatin1Char(' ') + unit;
    return out + QLatin1Char(' ') + line.Text;
}

QString FormatHistoryLine(const HistoryRow& row) {
    return QStringLiteral("%1 %2 %3 (%4) %5: %6, %7 ms")
        .arg(QDateTime::fromMSecsSinceEpoch(row.TimeMs)
                 .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
             unitPart(row.Name, row.Address, row.Port), row.Command, row.Source,
             row.Reply.isEmpty() ? QStringLiteral("(no reply)") : row.Reply, row.Outcome)
        .arg(row.DurationMs);
}

} // namespace kavio
