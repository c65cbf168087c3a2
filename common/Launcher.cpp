#include "Launcher.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>

namespace kavio {
namespace {

class SystemStarter : public ProgramStarter {
public:
    bool openUrl(const QUrl& url) override { return QDesktopServices::openUrl(url); }
    bool startDetached(const QString& program, const QStringList& arguments) override {
        return QProcess::startDetached(program, arguments);
    }
};

SystemStarter systemStarter;
ProgramStarter* currentStarter = &systemStarter;

} // namespace

bool ProgramStarter::installed(const QString& program) {
    return !QStandardPaths::findExecutable(program).isEmpty();
}

bool Launcher::installed(const QString& program) {
    return currentStarter->installed(program);
}

bool Launcher::openUrl(const QUrl& url) {
    return currentStarter->openUrl(url);
}

bool Launcher::startDetached(const QString& program, const QStringList& arguments) {
    return currentStarter->startDetached(program, arguments);
}

void Launcher::setStarter(ProgramStarter* starter) {
    currentStarter = starter ? starter : &systemStarter;
}

} // namespace kavio
