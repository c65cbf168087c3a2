#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace kavio::bench {

inline double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

inline double maximum(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

// One line of the report: what was measured, the figure, the target and whether it is met.
inline bool report(const char* what, double figure, const char* unit, double target) {
    const bool met = figure <= target;
    std::printf("%-58s %10.3f %-3s (target <= %g %s) %s\n", what, figure, unit, target, unit,
                met ? "ok" : "MISSED");
    std::fflush(stdout);
    return met;
}

// The same for a figure that must reach its target (a speed-up, a rate).
inline bool reportAtLeast(const char* what, double figure, const char* unit, double target) {
    const bool met = figure >= target;
    std::printf("%-58s %10.3f %-3s (target >= %g %s) %s\n", what, figure, unit, target, unit,
                met ? "ok" : "MISSED");
    std::fflush(stdout);
    return met;
}

inline double millisecondsOf(const QElapsedTimer& timer) {
    return timer.nsecsElapsed() / 1e6;
}

// A 10 ms timer standing for the window's own work: the longest wait between two of its beats
// shows how responsive the user interface stays meanwhile.
class StallWatch {
public:
    StallWatch() {
        m_beat.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_beat, &QTimer::timeout, [this] {
            m_worst = std::max(m_worst, millisecondsOf(m_since));
            m_since.restart();
        });
    }
    void start() {
        m_worst = 0;
        m_beat.start(10);
        m_since.start();
    }
    void stop() { m_beat.stop(); }
    double worstMs() const { return m_worst; }

private:
    QTimer m_beat;
    QElapsedTimer m_since;
    double m_worst = 0;
};

} // namespace kavio::bench
