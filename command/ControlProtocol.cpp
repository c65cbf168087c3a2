#include "ControlProtocol.h"

#include "Codes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kavio::control {
namespace {

QByteArray line(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<QJsonObject> object(const QByteArray& line) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line.trimmed(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

const char* outcomeName(TCommandResult::Outcome outcome) {
    switch (outcome) {
    case TCommandResult::Outcome::Answered:
        return "answered";
    case TCommandResult::Outcome::NotConnected:
        return "not connected";
    case TCommandResult::Outcome::Broken:
        return "broken";
    case TCommandResult::Outcome::Refused:
        return "refused";
    case TCommandResult::Outcome::Dropped:
        break;
    }
    return "dropped";
}

TCommandResult::Outcome outcomeOf(const QString& name) {
    if (name == QLatin1String("answered"))
        return TCommandResult::Outcome::Answered;
    if (name == QLatin1String("not connected"))
        return TCommandResult::Outcome::NotConnected;
    if (name == QLatin1String("broken"))
        return TCommandResult::Outcome::Broken;
    if (name == QLatin1String("refused"))
        return TCommandResult::Outcome::Refused;
    return TCommandResult::Outcome::Dropped;
}

using Pair = std::pair<qint64, qint64>;

// kavioctl's own compact form, {"queue":[[index,task],...]}, read without building a JSON
// document: a request naming every possible unit takes a few milliseconds instead of tens. Any
// other form (blanks, signs, long numbers) gives nullopt and is read as JSON.
std::optional<QList<Pair>> compactPairs(QByteArrayView text) {
    constexpr QByteArrayView head = "{\"queue\":[";
    text = text.trimmed();
    if (!text.startsWith(head) || !text.endsWith("]}"))
        return std::nullopt;
    const char* at = text.data() + head.size();
    const char* const end = text.data() + text.size() - 2; // the array's closing bracket
    const auto number = [&at, end](qint64& value) {
        const char* const first = at;
        value = 0;
        while (at < end && *at >= '0' && *at <= '9' && at - first < 7)
            value = value * 10 + (*at++ - '0');
        return at > first && (at == end || *at < '0' || *at > '9');
    };
    const auto take = [&at, end](char c) { return at < end && *at++ == c; };
    QList<Pair> pairs;
    while (at < end) {
        Pair pair;
        if ((!pairs.isEmpty() && !take(',')) || !take('[') || !number(pair.first) || !take(',') ||
            !number(pair.second) || !take(']'))
            return std::nullopt;
        pairs.append(pair);
    }
    return pairs;
}

} // namespace

QByteArray encodeRequest(const Request& request) {
    if (request.refresh)
        return line({{QStringLiteral("refresh"), true}});
    QJsonArray entries;
    for (const TCommandEntry& entry : request.entries)
        entries.append(QJsonArray{entry.Index, entry.Task});
    return line({{QStringLiteral("queue"), entries}});
}

std::optional<Request> decodeRequest(const QByteArray& text, QString* error) {
    std::optional<QList<Pair>> pairs = compactPairs(text);
    if (!pairs) {
        const std::optional<QJsonObject> message = object(text);
        if (!message) {
            *error = QStringLiteral("the request is not a JSON object");
            return std::nullopt;
        }
        if (message->value(QStringLiteral("refresh")).toBool()) {
            Request request;
            request.refresh = true;
            return request;
        }
        const QJsonValue queue = message->value(QStringLiteral("queue"));
        if (!queue.isArray()) {
            *error = QStringLiteral("the request names nothing to do");
            return std::nullopt;
        }
        pairs.emplace();
        for (const QJsonValue& value : queue.toArray()) {
            const QJsonArray pair = value.toArray();
            pairs->append({pair.size() == 2 ? pair.at(0).toInteger(-1) : -1,
                           pair.size() == 2 ? pair.at(1).toInteger(-1) : -1});
        }
    }
    Request request;
    request.entries.reserve(pairs->size());
    for (const auto& [index, task] : std::as_const(*pairs)) {
        if (index < 1 || index > MaxUnitIndex || task < 0 || task > 255 ||
            CommandLetterOf(quint8(task)) == 0) {
            *error = QStringLiteral("entry %1 of the request is not a unit and a task")
                         .arg(request.entries.size() + 1);
            return std::nullopt;
        }
        request.entries.append(TCommandEntry{quint16(index), quint8(task)});
    }
    return request;
}

QByteArray encodeAccepted(int count) {
    return line({{QStringLiteral("accepted"), count}});
}

QByteArray encodeError(const QString& message) {
    return line({{QStringLiteral("error"), message}});
}

QByteArray encodeResult(int entry, const TCommandResult& result) {
    const QJsonObject fields{
        {QStringLiteral("index"), result.Index},
        {QStringLiteral("task"), result.Task},
        {QStringLiteral("outcome"), QLatin1String(outcomeName(result.Result))},
        {QStringLiteral("name"), result.Name},
        {QStringLiteral("reply"), QString::fromLatin1(result.Reply.toBase64())},
        {QStringLiteral("status"), result.Status},
        {QStringLiteral("stored"), result.Stored},
    };
    return line({{QStringLiteral("entry"), entry}, {QStringLiteral("result"), fields}});
}

std::optional<Answer> decodeAnswer(const QByteArray& text) {
    const std::optional<QJsonObject> message = object(text);
    if (!message)
        return std::nullopt;
    Answer answer;
    if (message->contains(QStringLiteral("accepted"))) {
        answer.kind = Answer::Kind::Accepted;
        answer.count = message->value(QStringLiteral("accepted")).toInt(-1);
        return answer.count >= 0 ? std::optional(answer) : std::nullopt;
    }
    if (message->contains(QStringLiteral("error"))) {
        answer.kind = Answer::Kind::Error;
        answer.message = message->value(QStringLiteral("error")).toString();
        return answer;
    }
    const QJsonValue result = message->value(QStringLiteral("result"));
    if (!result.isObject())
        return std::nullopt;
    const QJsonObject fields = result.toObject();
    answer.kind = Answer::Kind::Result;
    answer.entry = message->value(QStringLiteral("entry")).toInt(-1);
    TCommandResult& r = answer.result;
    r.Index = quint16(fields.value(QStringLiteral("index")).toInt());
    r.Task = quint8(fields.value(QStringLiteral("task")).toInt());
    r.Result = outcomeOf(fields.value(QStringLiteral("outcome")).toString());
    r.Name = fields.value(QStringLiteral("name")).toString();
    r.Reply = QByteArray::fromBase64(fields.value(QStringLiteral("reply")).toString().toLatin1());
    r.Status = quint8(fields.value(QStringLiteral("status")).toInt(StatusUnknown));
    r.Stored = fields.value(QStringLiteral("stored")).toBool(true);
    return answer.entry >= 0 ? std::optional(answer) : std::nullopt;
}

} // namespace kavio::control
