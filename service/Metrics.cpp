#include "Metrics.h"

#include "HistoryRecorder.h"
#include "StatusWords.h"

#include <QDateTime>

namespace kavio::service {
namespace {

// A label value as the exposition format writes it: backslash, double quote and line feed
// escaped.
QByteArray labelValue(const QString& text) {
    QByteArray escaped;
    const QByteArray utf8 = text.toUtf8();
    escaped.reserve(utf8.size());
    for (const char c : utf8) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '"')
            escaped += "\\\"";
        else if (c == '\n')
            escaped += "\\n";
        else
            escaped += c;
    }
    return escaped;
}

// The states a unit's status reads as, in the words of the status (lower case), one series each.
// The status codes a unit's state series are written for, with the scripts' words.
constexpr std::array<int, 6> StateCodes = {0, 1, 2, 3, 4, 5};

} // namespace

QString taskWord(quint8 task) {
    static const char* const words[] = {"on", "off", "reboot", "pulse", "cycle", "query"};
    return task < 6 ? QString::fromLatin1(words[task]) : QString::number(task);
}

QString outcomeWord(const TCommandResult& result) {
    if (result.Result == TCommandResult::Outcome::Dropped)
        return QStringLiteral("dropped");
    return HistoryOutcomeOf(result);
}

void Metrics::count(const TCommandResult& result) {
    ++m_counts.exchanges[{taskWord(result.Task), outcomeWord(result)}];
    if (result.Result == TCommandResult::Outcome::Dropped ||
        result.Result == TCommandResult::Outcome::Refused)
        return;
    UnitSeen& seen = m_counts.seen[result.Index];
    seen.statusWord = result.answeredWithStatusWord();
    if (seen.statusWord)
        seen.lastAnswerMs = result.StartedMs + result.DurationMs;
    const double seconds = double(result.DurationMs) / 1000.0;
    for (size_t bucket = 0; bucket < Buckets.size(); ++bucket) {
        if (seconds <= Buckets[bucket])
            ++m_counts.bucketCounts[bucket];
    }
    ++m_counts.durationCount;
    m_counts.durationSum += seconds;
}

Metrics::Snapshot Metrics::snapshot(int queueLength) const {
    Snapshot copy = m_counts;
    copy.queueLength = queueLength;
    return copy;
}

QByteArray exposition(const Metrics::Snapshot& counts, const std::vector<StoredRecord>& units) {
    QByteArray status = "# HELP kavio_unit_status The status code a unit last answered with "
                        "(0 on, 1 off, 2 cycling, 3 unknown, 4 unreachable, 5 busy).\n"
                        "# TYPE kavio_unit_status gauge\n";
    QByteArray state = "# HELP kavio_unit_state 1 for the state a unit's status reads as, 0 for "
                       "the others.\n# TYPE kavio_unit_state gauge\n";
    QByteArray reachable =
        "# HELP kavio_unit_reachable Whether the last exchange with a unit got a status word; "
        "none before the first exchange.\n# TYPE kavio_unit_reachable gauge\n";
    QByteArray answered = "# HELP kavio_unit_last_answer_timestamp_seconds When a unit last "
                          "answered with a status word.\n"
                          "# TYPE kavio_unit_last_answer_timestamp_seconds gauge\n";
    status.reserve(qsizetype(units.size()) * 64);
    state.reserve(qsizetype(units.size()) * 6 * 72);
    QList<QByteArray> stateWords;
    for (const int code : StateCodes)
        stateWords.append(statusWord(code).toLower().toLatin1());
    for (const StoredRecord& record : units) {
        if (record.group)
            continue;
        const QByteArray labels = "name=\"" + labelValue(record.name) + "\",address=\"" +
                                  labelValue(record.address) + '"';
        status += "kavio_unit_status{" + labels + "} " + QByteArray::number(record.status) + '\n';
        const QByteArray word = statusWord(record.status).toLower().toLatin1();
        for (const QByteArray& each : stateWords)
            state += "kavio_unit_state{" + labels + ",state=\"" + each + "\"} " +
                     (each == word ? "1\n" : "0\n");
        const auto seen = counts.seen.constFind(record.index);
        if (seen == counts.seen.cend())
            continue;
        reachable += "kavio_unit_reachable{" + labels + "} " + (seen->statusWord ? "1\n" : "0\n");
        if (seen->lastAnswerMs > 0)
            answered += "kavio_unit_last_answer_timestamp_seconds{" + labels + "} " +
                        QByteArray::number(double(seen->lastAnswerMs) / 1000.0, 'f', 3) + '\n';
    }
    QByteArray text = status + state + reachable + answered;
    text += "# HELP kavio_exchanges_total Commands served, by command and how they ended (the "
            "history's outcome words).\n# TYPE kavio_exchanges_total counter\n";
    for (auto each = counts.exchanges.cbegin(); each != counts.exchanges.cend(); ++each)
        text += "kavio_exchanges_total{command=\"" + labelValue(each.key().first) +
                "\",outcome=\"" + labelValue(each.key().second) + "\"} " +
                QByteArray::number(each.value()) + '\n';
    text += "# HELP kavio_queue_length Commands waiting, under way or delayed.\n"
            "# TYPE kavio_queue_length gauge\nkavio_queue_length " +
            QByteArray::number(counts.queueLength) + '\n';
    text += "# HELP kavio_exchange_duration_seconds How long exchanges took, from the connect to "
            "the end of the reply.\n# TYPE kavio_exchange_duration_seconds histogram\n";
    for (size_t bucket = 0; bucket < Metrics::Buckets.size(); ++bucket)
        text += "kavio_exchange_duration_seconds_bucket{le=\"" +
                QByteArray::number(Metrics::Buckets[bucket]) + "\"} " +
                QByteArray::number(counts.bucketCounts[bucket]) + '\n';
    text += "kavio_exchange_duration_seconds_bucket{le=\"+Inf\"} " +
            QByteArray::number(counts.durationCount) + "\nkavio_exchange_duration_seconds_sum " +
            QByteArray::number(counts.durationSum) + "\nkavio_exchange_duration_seconds_count " +
            QByteArray::number(counts.durationCount) + '\n';
    return text;
}

} // namespace kavio::service
