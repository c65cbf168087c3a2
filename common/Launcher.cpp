#include "Launcher.h"

#include <QDesktopServices>
#include <QProcess>

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
