#pragma once

#include <QDateTime>

#include <functional>

namespace kavio {

// The one place the program asks for the local date and time: polling, the timer runner and
// the recurrence rules all read Clock::now(). Tests replace the source to drive minutes, days
// and years without waiting for them.
class Clock {
public:
    using Source = std::function<QDateTime()>;

    static QDateTime now();
    static QDate today() { return now().date(); }

    // Replaces the source; an empty one restores the system clock.
    static void setSource(Source source);
};

// A clock for tests: installed for its lifetime, it reads `time`, which the test moves on.
class ManualClock {
public:
    explicit ManualClock(QDateTime start)
        : time(std::move(start)) {
        Clock::setSource([this] { return time; });
    }
    ~ManualClock() { Clock::setSource({}); }
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

    void advance(qint64 seconds) { time = time.addSecs(seconds); }

    QDateTime time;
};

} // namespace kavio
