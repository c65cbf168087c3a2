#include "SettingsFile.h"

namespace kavio {

QSettings settingsFile() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("KavioCC"));
}

} // namespace kavio
