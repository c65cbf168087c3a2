#include "Main.h"
#include "CommandLine.h"
#include "CommandProcessor.h"
#include "Database.h"
#include "Exception.h"
#include "KavioApplication.h"
#include "Messages.h"
#include "Program.h"
#include "QueueOwner.h"
#include "SingleInstance.h"

#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <optional>

using namespace kavio;

namespace {

// How long a window that follows the service has to answer a later start.
constexpr int FollowerKnockMs = 500;

// Prints what the command line asked for; the exit status when the program ends here.
std::optional<int> answered(const CommandLine& line) {
    switch (line.outcome) {
    case CommandLine::Outcome::Start:
        return std::nullopt;
    case CommandLine::Outcome::Done:
        std::fputs(qPrintable(line.output), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    case CommandLine::Outcome::Refused:
        std::fputs(qPrintable(line.message), stderr);
        break;
    }
    return 64;
}

} // namespace

int main(int argc, char** argv) {
    const QString version = QStringLiteral(KAVIOCC_VERSION);
    // Help, the version and mistakes need no window, and so no display: they are answered
    // before one is opened.
    if (ReadCommandLine(ArgumentsBeforeDisplay(argc, argv), Database::defaultPath(), version)
            .outcome != CommandLine::Outcome::Start) {
        QCoreApplication console(argc, argv); // for the help's program name
        const CommandLine line =
            ReadCommandLine(ArgumentsBeforeDisplay(argc, argv), Database::defaultPath(), version);
        return answered(line).value_or(64);
    }
    KavioApplication app(argc, argv);
    const CommandLine line =
        ReadCommandLine(app.arguments().mid(1), Database::defaultPath(), version);
    if (const std::optional<int> status = answered(line))
        return *status;

    // One program per database: a second start brings the first one's window to the front and
    // ends. The lock is named by the file's identity, so a missing file is made first (by
    // SQLite, with the tables; the program opens it again once the lock is held).
    const QString path = line.database;
    const QString shown = QDir::toNativeSeparators(path);
    try {
        if (!QFileInfo::exists(path)) {
            Database::open(path);
            Database::close();
        }
    } catch (const Exception& error) {
        Messages::show(MessageKind::Error, QCoreApplication::applicationName(),
                       reportText(error.message()));
        return 1;
    }
    SingleInstance instance(path);
    QObject::connect(&instance, &SingleInstance::waitingForKavioctl, [&shown](qint64 pid) {
        std::fprintf(stderr,
                     "kaviocc: waiting up to %d s for kavioctl (pid %lld) to finish "
                     "serving the units of %s\n",
                     SingleInstance::KavioctlWaitMs / 1000, pid, qPrintable(shown));
    });
    const SingleInstance::Claim claim = instance.claimFile();
    switch (claim) {
    case SingleInstance::Claim::Taken:
        break;
    case SingleInstance::Claim::HeldByService:
        // A window that follows the service already is brought to the front instead.
        if (instance.knock(FollowerKnockMs))
            return 0;
        instance.listenForKnocks();
        break;
    case SingleInstance::Claim::HeldByControlCenter:
        if (instance.knock())
            return 0;
        std::fprintf(stderr,
                     "kaviocc: another Kavio Control Center is using %s and does not answer\n",
                     qPrintable(shown));
        return 1;
    case SingleInstance::Claim::KavioctlKeptIt:
        std::fprintf(stderr,
                     "kaviocc: gave up waiting for kavioctl (pid %lld), which is still "
                     "serving the units of %s\n",
                     instance.kavioctlPid(), qPrintable(shown));
        return 1;
    case SingleInstance::Claim::NoPrivateFolder:
        std::fprintf(stderr, "kaviocc: %s\n", qPrintable(instance.folderError()));
        return 1;
    }

    try {
        Database::open(path);
    } catch (const Exception& error) {
        Messages::show(MessageKind::Error, QCoreApplication::applicationName(),
                       reportText(error.message()));
        return 1;
    }

    // While the service kaviod serves the units, the window follows it.
    const bool following = claim == SingleInstance::Claim::HeldByService;
    auto owner = std::make_unique<QueueOwner>(path, instance);
    std::unique_ptr<TKavioProgram> program;
    try {
        program = std::make_unique<TKavioProgram>(owner->core(), following);
    } catch (const Exception& error) {
        reportException(error);
        return 1;
    }
    QObject::connect(&instance, &SingleInstance::raiseRequested, [&program] { program->raise(); });
    owner->attach(*program);
    if (following)
        owner->follow();
    else
        owner->serve();
    program->start();
    const int result = app.exec();
    program.reset();
    owner.reset();
    Database::close();
    return result;
}
