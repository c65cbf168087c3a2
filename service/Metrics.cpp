#include "Metrics.h"

#include "CommandEngine.h"
#include "StoreRecords.h"

namespace kavio::service {
namespace {

// A label value as the exposition format writes it: backslash, double quote and line feed
// escaped.
QString labelValue(const QString& text) {
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\\'))
            escaped += QStringLiteral("\\\\");
        else if (c == QLatin1Char('"'))
            escaped += QStringLiteral("\\\"");
        else if (c == QLatin1Char('\n'))
            escaped += QStringLiteral("\\n");
        else
            escaped += c;
    }
    return escaped;
}

} // namespace

QString taskWord(quint8 task) {
    static const char* const words[] = {"on", "off", "reboot", "pulse", "cycle", "query"};
    return task < 6 ? QString::fromLatin1(words[task]) : QString::number(task);
}

QString outcomeWord(TCommandResult::Outcome outcome) {
    switch (outcome) {
    case TCommandResult::Outcome::Answered:
        return QStringLiteral("answered");
    case TCommandResult::Outcome::NotConnected:
        return QStringLiteral("not_connected");
    case TCommandResult::Outcome::Broken:
        return QStringLiteral("broken");
    case TCommandResult::Outcome::Refused:
        return QStringLiteral("refused");
    case TCommandResult::Outcome::Dropped:
        break;
    }
    return QStringLiteral("dropped");
}

void Metrics::count(const TCommandResult& result) {
    ++m_exchanges[{taskWord(result.Task), outcomeWord(result.Result)}];
    if (result.Result == TCommandResult::Outcome::Dropped ||
        result.Result == TCommandResult::Outcome::Refused)
        return;
    const double seconds = double(result.DurationMs) / 1000.0;
    for (size_t bucket = 0; bucket < Buckets.size(); ++bucket) {
        if (seconds <= Buckets[bucket])
            ++m_bucketCounts[bucket];
    }
    ++m_durationCount;
    m_durationSum += seconds;
}

QByteArray Metrics::exposition(const TCommandEngine& engine) const {
    QString text;
    text += QStringLiteral("# HELP kavio_unit_status The status code a unit last answered with "
                           "(0 on, 1 off, 2 cycling, 3 unknown, 4 unreachable, 5 busy).\n"
                           "# TYPE kavio_unit_status gauge\n");
    QString reachable =
        QStringLiteral("# HELP kavio_unit_reachable Whether the last connection to a unit was "
                       "made.\n# TYPE kavio_unit_reachable gauge\n");
    for (const ctl::StoredRecord& record : ctl::readStore(false)) {
        if (record.group)
            continue;
        const QString labels = QStringLiteral("{name=\"%1\",address=\"%2\"}")
                                   .arg(labelValue(record.name), labelValue(record.address));
        text += QStringLiteral("kavio_unit_status") + labels + QLatin1Char(' ') +
                QString::number(record.status) + QLatin1Char('\n');
        reachable += QStringLiteral("kavio_unit_reachable") + labels +
                     (record.status == 4 ? QStringLiteral(" 0\n") : QStringLiteral(" 1\n"));
    }
    text += reachable;
    text += QStringLiteral("# HELP kavio_exchanges_total Commands served, by command and how they "
                           "ended.\n# TYPE kavio_exchanges_total counter\n");
    for (auto each = m_exchanges.cbegin(); each != m_exchanges.cend(); ++each)
        text += QStringLiteral("kavio_exchanges_total{command=\"%1\",outcome=\"%2\"} %3\n")
                    .arg(each.key().first, each.key().second)
                    .arg(each.value());
    text += QStringLiteral("# HELP kavio_queue_length Commands waiting or under way.\n"
                           "# TYPE kavio_queue_length gauge\nkavio_queue_length %1\n")
                .arg(engine.unfinishedCount());
    text += QStringLiteral("# HELP kavio_exchange_duration_seconds How long exchanges took, from "
                           "the connect to the end of the reply.\n"
                           "# TYPE kavio_exchange_duration_seconds histogram\n");
    for (size_t bucket = 0; bucket < Buckets.size(); ++bucket)
        text += QStringLiteral("kavio_exchange_duration_seconds_bucket{le=\"%1\"} %2\n")
                    .arg(Buckets[bucket])
                    .arg(m_bucketCounts[bucket]);
    text += QStringLiteral("kavio_exchange_duration_seconds_bucket{le=\"+Inf\"} %1\n"
                           "kavio_exchange_duration_seconds_sum %2\n"
                           "kavio_exchange_duration_seconds_count %1\n")
                .arg(m_durationCount)
                .arg(m_durationSum);
    return text.toUtf8();
}

} // namespace kavio::service
