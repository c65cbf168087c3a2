#include "PollRule.h"

#include <QDir>
#include <QSettings>

namespace kavio::poll {

int readMode(const QSettings& settings) {
    bool ok = false;
    const int mode = settings.value(QStringLiteral("Poll/Mode"), NeverMode).toInt(&ok);
    return ok && mode >= NeverMode && mode <= LastMode ? mode : NeverMode;
}

QString writeMode(QSettings& settings, int mode) {
    settings.setValue(QStringLiteral("Poll/Mode"), mode);
    settings.sync();
    if (settings.status() == QSettings::NoError)
        return {};
    return QStringLiteral("The poll setting could not be saved in %1")
        .arg(QDir::toNativeSeparators(settings.fileName()));
}

bool timedPollDue(int mode, const QDateTime& now) {
    const int hour = now.time().hour();
    const int minute = now.time().minute();
    switch (mode) {
    case 3:
        return minute % 15 == 0;
    case 4:
        return minute % 30 == 0;
    case 5:
        return minute == 0;
    case 6:
        return minute == 0 && hour % 2 == 0;
    case 7:
        return minute == 0 && hour % 4 == 0;
    case 8:
        return minute == 0 && hour % 8 == 0;
    case 9:
        return minute == 0 && hour % 12 == 0;
    case 10:
        return minute == 0 && hour == 0;
    default:
        return false;
    }
}

QDateTime minuteOf(const QDateTime& time) {
    return QDateTime(time.date(), QTime(time.time().hour(), time.time().minute()), time.timeSpec());
}

void Schedule::skipFirstPoll(const QDateTime& now) {
    FirstPoll = false;
    lastCheckedMinute = minuteOf(now);
}

std::optional<CommandSource> Schedule::tick(const QDateTime& now, int mode) {
    const QDateTime minute = minuteOf(now);
    if (FirstPoll) {
        FirstPoll = false;
        lastCheckedMinute = minute;
        return CommandSource::Poll;
    }
    if (minute == lastCheckedMinute)
        return std::nullopt;
    lastCheckedMinute = minute;
    if (timedPollDue(mode, now))
        return CommandSource::TimedPoll;
    return std::nullopt;
}

} // namespace kavio::poll
