#include "ControlProtocol.h"

#include "Codes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kavio::control {

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

namespace {

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

// The compact form that encodeRequest writes, {"queue":[[index,task],...]} with an optional
// ,"source":"NAME" after the array, read without building a JSON document: a request naming
// every possible unit takes a few milliseconds instead of tens. Any other form (blanks, signs,
// long numbers) gives nullopt and is read as JSON.
std::optional<QList<Pair>> compactPairs(QByteArrayView text, QString& source) {
    constexpr QByteArrayView head = "{\"queue\":[";
    constexpr QByteArrayView sourceHead = "],\"source\":\"";
    text = text.trimmed();
    if (!text.startsWith(head))
        return std::nullopt;
    qsizetype tail = 2; // "]}"
    source.clear();
    if (text.endsWith("\"}")) {
        const qsizetype named = text.lastIndexOf(sourceHead);
        if (named < 0)
            return std::nullopt;
        const QByteArrayView word =
            text.sliced(named + sourceHead.size(), text.size() - named - sourceHead.size() - 2);
        if (word.contains('"') || word.contains('\\'))
            return std::nullopt;
        source = QString::fromUtf8(word);
        tail = text.size() - named;
    } else if (!text.endsWith("]}")) {
        return std::nullopt;
    }
    const char* at = text.data() + head.size();
    const char* const end = text.data() + text.size() - tail; // the array's closing bracket
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
    if (request.subscribe)
        return line({{QStringLiteral("subscribe"), true}});
    if (request.refresh)
        return line({{QStringLiteral("refresh"), true}});
    if (request.settings)
        return line({{QStringLiteral("settings"), true}});
    QByteArray text = "{\"queue\":[";
    text.reserve(request.entries.size() * 10 + 32);
    for (const TCommandEntry& entry : request.entries) {
        if (text.size() > 10)
            text += ',';
        text += '[' + QByteArray::number(entry.Index) + ',' + QByteArray::number(entry.Task) + ']';
    }
    text += ']';
    const CommandSource source =
        request.entries.isEmpty() ? CommandSource::Kavioctl : request.entries.first().Source;
    if (source != CommandSource::Kavioctl)
        text += ",\"source\":\"" + sourceName(source).toUtf8() + '"';
    return text + "}\n";
}

std::optional<Request> decodeRequest(const QByteArray& text, QString* error) {
    QString sourceWord;
    std::optional<QList<Pair>> pairs = compactPairs(text, sourceWord);
    if (!pairs) {
        const std::optional<QJsonObject> message = object(text);
        if (!message) {
            *error = QStringLiteral("the request is not a JSON object");
            return std::nullopt;
        }
        Request request;
        request.subscribe = message->value(QStringLiteral("subscribe")).toBool();
        request.refresh = message->value(QStringLiteral("refresh")).toBool();
        request.settings = message->value(QStringLiteral("settings")).toBool();
        if (request.subscribe || request.refresh || request.settings)
            return request;
        sourceWord = message->value(QStringLiteral("source")).toString();
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
    CommandSource source = CommandSource::Kavioctl;
    if (!sourceWord.isEmpty() && !sourceFromName(sourceWord, source)) {
        *error = QStringLiteral("the request names an unknown source");
        return std::nullopt;
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
        request.entries.append(TCommandEntry{quint16(index), quint8(task), 0, source});
    }
    return request;
}

QByteArray encodeAccepted(int count) {
    return line({{QStringLiteral("accepted"), count}});
}

QByteArray encodeError(const QString& message) {
    return line({{QStringLiteral("error"), message}});
}

QJsonObject resultObject(const TCommandResult& result) {
    return QJsonObject{
        {QStringLiteral("index"), result.Index},
        {QStringLiteral("task"), result.Task},
        {QStringLiteral("outcome"), QLatin1String(outcomeName(result.Result))},
        {QStringLiteral("name"), result.Name},
        {QStringLiteral("reply"), QString::fromLatin1(result.Reply.toBase64())},
        {QStringLiteral("status"), result.Status},
        {QStringLiteral("stored"), result.Stored},
        {QStringLiteral("source"), sourceName(result.Source)},
        {QStringLiteral("address"), result.Address},
        {QStringLiteral("port"), result.Port},
        {QStringLiteral("started"), result.StartedMs},
        {QStringLiteral("duration"), result.DurationMs},
        {QStringLiteral("timedOut"), result.TimedOut},
        {QStringLiteral("written"), result.Written},
    };
}

TCommandResult resultFrom(const QJsonObject& fields) {
    TCommandResult r;
    r.Index = quint16(fields.value(QStringLiteral("index")).toInt());
    r.Task = quint8(fields.value(QStringLiteral("task")).toInt());
    r.Result = outcomeOf(fields.value(QStringLiteral("outcome")).toString());
    r.Name = fields.value(QStringLiteral("name")).toString();
    r.Reply = QByteArray::fromBase64(fields.value(QStringLiteral("reply")).toString().toLatin1());
    r.Status = quint8(fields.value(QStringLiteral("status")).toInt(StatusUnknown));
    r.Stored = fields.value(QStringLiteral("stored")).toBool(true);
    if (!sourceFromName(fields.value(QStringLiteral("source")).toString(), r.Source))
        r.Source = CommandSource::Kavioctl;
    r.Address = fields.value(QStringLiteral("address")).toString();
    r.Port = quint16(fields.value(QStringLiteral("port")).toInt());
    r.StartedMs = fields.value(QStringLiteral("started")).toInteger();
    r.DurationMs = fields.value(QStringLiteral("duration")).toInteger();
    r.TimedOut = fields.value(QStringLiteral("timedOut")).toBool();
    r.Written = fields.value(QStringLiteral("written")).toBool();
    return r;
}

QByteArray encodeResult(int entry, const TCommandResult& result) {
    return line(
        {{QStringLiteral("entry"), entry}, {QStringLiteral("result"), resultObject(result)}});
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
    answer.kind = Answer::Kind::Result;
    answer.entry = message->value(QStringLiteral("entry")).toInt(-1);
    answer.result = resultFrom(result.toObject());
    return answer.entry >= 0 ? std::optional(answer) : std::nullopt;
}

} // namespace kavio::control
