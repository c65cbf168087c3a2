#pragma once

#include <QString>

class QSettings;

namespace kavio {

// "Queue/Parallel" in the settings file: how many exchanges may run at once. The control center,
// kavioctl serving units itself, and the service all read it.
inline const QString ParallelKey = QStringLiteral("Queue/Parallel");

struct ParallelSetting {
    int exchanges = 1;
    // Why the stored value was not taken (one at a time instead); empty when it was.
    QString problem;
};

ParallelSetting readParallelSetting(const QSettings& settings);
// The error when the value (taken as it is: the caller keeps it in range) cannot be saved.
QString writeParallelSetting(QSettings& settings, int exchanges);

// The value of a "--parallel" option or of the setting; false when it is not a whole number in
// the range.
bool parseParallel(const QString& text, int& exchanges);

} // namespace kavio
