#include "ControlNotice.h"

#include "ControlProtocol.h"

#include <QJsonArray>
#include <QJsonObject>

namespace kavio::control {
namespace {

const QString HelloKey = QStringLiteral("hello");
const QString LogKey = QStringLiteral("log");
const QString FinishedKey = QStringLiteral("finished");
const QString StatusKey = QStringLiteral("status");
const QString QueueKey = QStringLiteral("queue");
const QString FiredKey = QStringLiteral("fired");
const QString DayKey = QStringLiteral("day");
const QString ChangedKey = QStringLiteral("changed");
const QString TimersKey = QStringLiteral("timers");
const QString SettingsKey = QStringLiteral("settings");

} // namespace

QByteArray encodeNotice(const Notice& notice) {
    switch (notice.kind) {
    case Notice::Kind::Hello:
        return line({{HelloKey, QJsonObject{{QStringLiteral("program"), notice.program},
                                            {QStringLiteral("pid"), notice.pid},
                                            {QStringLiteral("served"),
                                             QJsonArray::fromStringList(notice.served)}}}});
    case Notice::Kind::Log:
        return line({{LogKey, QJsonObject{{QStringLiteral("time"), notice.log.TimeMs},
                                          {QStringLiteral("name"), notice.log.Name},
                                          {QStringLiteral("address"), notice.log.Address},
                                          {QStringLiteral("port"), notice.log.Port},
                                          {QStringLiteral("text"), notice.log.Text}}}});
    case Notice::Kind::Finished:
        return line({{FinishedKey, resultObject(notice.result)}});
    case Notice::Kind::Queue:
        return line(
            {{QueueKey, QJsonObject{{QStringLiteral("length"), notice.queueLength},
                                    {QStringLiteral("head"), sourceName(notice.queueHead)}}}});
    case Notice::Kind::Fired:
        return line({{FiredKey, notice.key}});
    case Notice::Kind::Status:
        return line({{StatusKey, true}});
    case Notice::Kind::DayBegan:
        return line({{DayKey, true}});
    case Notice::Kind::Changed:
        return line({{ChangedKey, true}});
    case Notice::Kind::Timers:
        return line({{TimersKey, true}});
    case Notice::Kind::Settings:
        break;
    }
    return line({{SettingsKey, true}});
}

std::optional<Notice> decodeNotice(const QByteArray& text) {
    const std::optional<QJsonObject> message = object(text);
    if (!message || message->size() != 1)
        return std::nullopt;
    const QString key = message->constBegin().key();
    const QJsonValue value = message->constBegin().value();
    const QJsonObject fields = value.toObject();
    Notice notice;
    if (key == HelloKey && value.isObject()) {
        notice.kind = Notice::Kind::Hello;
        notice.program = fields.value(QStringLiteral("program")).toString();
        notice.pid = fields.value(QStringLiteral("pid")).toInteger();
        for (const QJsonValue& served : fields.value(QStringLiteral("served")).toArray())
            notice.served.append(served.toString());
    } else if (key == LogKey && value.isObject()) {
        notice.kind = Notice::Kind::Log;
        notice.log = TLogLine{fields.value(QStringLiteral("time")).toInteger(),
                              fields.value(QStringLiteral("name")).toString(),
                              fields.value(QStringLiteral("address")).toString(),
                              quint16(fields.value(QStringLiteral("port")).toInt()),
                              fields.value(QStringLiteral("text")).toString()};
    } else if (key == FinishedKey && value.isObject()) {
        notice.kind = Notice::Kind::Finished;
        notice.result = resultFrom(fields);
    } else if (key == QueueKey && value.isObject()) {
        notice.kind = Notice::Kind::Queue;
        notice.queueLength = std::max(0, fields.value(QStringLiteral("length")).toInt());
        if (!sourceFromName(fields.value(QStringLiteral("head")).toString(), notice.queueHead))
            notice.queueHead = CommandSource::Button;
    } else if (key == FiredKey && value.isString()) {
        notice.kind = Notice::Kind::Fired;
        notice.key = value.toString();
    } else if (key == StatusKey) {
        notice.kind = Notice::Kind::Status;
    } else if (key == DayKey) {
        notice.kind = Notice::Kind::DayBegan;
    } else if (key == ChangedKey) {
        notice.kind = Notice::Kind::Changed;
    } else if (key == TimersKey) {
        notice.kind = Notice::Kind::Timers;
    } else if (key == SettingsKey) {
        notice.kind = Notice::Kind::Settings;
    } else {
        return std::nullopt;
    }
    return notice;
}

} // namespace kavio::control
