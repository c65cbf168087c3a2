#include "Main.h"
#include "CommandProcessor.h"
#include "ControlServer.h"
#include "Database.h"
#include "Exception.h"
#include "KavioApplication.h"
#include "Messages.h"
#include "Program.h"
#include "SingleInstance.h"

#include <QDir>
#include <cstdio>

using namespace kavio;

int main(int argc, char** argv) {
    KavioApplication app(argc, argv);

    // One program per database: a second start brings the first one's window to the front and
    // ends without touching the file.
    const QString path = Database::defaultPath();
    SingleInstance instance(path);
    if (!instance.claim()) {
        if (!instance.knock())
            std::fprintf(stderr, "kaviocc: another Kavio Control Center is using %s\n",
                         qPrintable(QDir::toNativeSeparators(path)));
        return 0;
    }

    try {
        Database::open(path);
    } catch (const Exception& error) {
        Messages::show(MessageKind::Error, QCoreApplication::applicationName(),
                       reportText(error.message()));
        return 1;
    }

    std::unique_ptr<TKavioProgram> program;
    try {
        program = std::make_unique<TKavioProgram>();
    } catch (const Exception& error) {
        reportException(error);
        return 1;
    }
    QObject::connect(&instance, &SingleInstance::raiseRequested, [&program] { program->raise(); });
    // kavioctl hands its commands to this program's queue while it runs.
    auto control = std::make_unique<ControlServer>(path, program->CmndProc->engine());
    QObject::connect(control.get(), &ControlServer::storeChanged, [&program] {
        try {
            program->KavioCCMain->RebuildList();
        } catch (const Exception& error) {
            reportException(error);
        }
    });
    if (!control->listen())
        std::fprintf(stderr, "kaviocc: kavioctl cannot reach this program: %s\n",
                     qPrintable(QDir::toNativeSeparators(control->serverName())));
    program->start();
    const int result = app.exec();
    control.reset();
    program.reset();
    Database::close();
    return result;
}
