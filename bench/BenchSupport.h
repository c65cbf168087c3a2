#pragma once

#include <QElapsedTimer>
#include <QString>
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

inline double millisecondsOf(const QElapsedTimer& timer) {
    return timer.nsecsElapsed() / 1e6;
}

} // namespace kavio::bench
