#include "QueueSettings.h"

#include "CommandEngine.h"

#include <QDir>
#include <QSettings>

namespace kavio {

bool parseParallel(const QString& text, int& exchanges) {
    bool number = false;
    const int value = text.trimmed().toInt(&number);
    if (!number || value < TCommandEngine::MinParallel || value > TCommandEngine::MaxParallel)
        return false;
    exchanges = value;
    return true;
}

ParallelSetting readParallelSetting(const QSettings& settings) {
    ParallelSetting setting;
    if (!settings.contains(ParallelKey))
        return setting;
    const QString stored = settings.value(ParallelKey).toString();
    if (!parseParallel(stored, setting.exchanges)) {
        setting.exchanges = 1;
        setting.problem =
            QStringLiteral("%1 in %2 is \"%3\", not a number from %4 to %5: one exchange runs at "
                           "a time")
                .arg(ParallelKey, QDir::toNativeSeparators(settings.fileName()), stored)
                .arg(TCommandEngine::MinParallel)
                .arg(TCommandEngine::MaxParallel);
    }
    return setting;
}

QString writeParallelSetting(QSettings& settings, int exchanges) {
    settings.setValue(ParallelKey, exchanges);
    settings.sync();
    if (settings.status() == QSettings::NoError)
        return {};
    return QStringLiteral("The number of parallel exchanges could not be saved in %1")
        .arg(QDir::toNativeSeparators(settings.fileName()));
}

} // namespace kavio
