#pragma once

#include <QSettings>

namespace kavio {

// The one settings file every program reads and writes: KavioCC.ini in the user's configuration
// folder ($XDG_CONFIG_HOME, by default ~/.config), in INI format. Each opening reads the file
// anew, so a change another program made is seen at the next reading.
QSettings settingsFile();

} // namespace kavio
