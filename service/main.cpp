#include "Database.h"
#include "Exception.h"
#include "HttpApi.h"
#include "KavioService.h"
#include "ServiceLock.h"
#include "ServiceLog.h"
#include "ServiceOptions.h"
#include "SignalWatcher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <memory>

using namespace kavio;
using namespace kavio::service;

namespace {

// A kavioctl serving the units itself ends by itself; this long it is waited for.
constexpr int KavioctlWaitMs = 60000;

// What kaviod exits with: as kavioctl, 64 for a command line it cannot take.
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 64;

int fail(const QString& message, int status = ExitFailed) {
    const QByteArray text = ("kaviod: " + message + '\n').toUtf8();
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    return status;
}

// The help or version text; a standard output that cannot take it (a full disk) is a failure.
int print(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    const bool written =
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) == size_t(bytes.size()) &&
        std::fflush(stdout) == 0;
    if (!written)
        return fail(QStringLiteral("standard output cannot be written"));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // The lock names its holder by this name: the control center and kavioctl tell the service
    // from each other by it.
    QCoreApplication::setApplicationName(InstanceNames::ServiceProgram);
    QCoreApplication::setApplicationVersion(QStringLiteral(KAVIOCC_VERSION));

    const LoggedMessages messages;
    ServiceOptions options;
    QString problem;
    switch (parseServiceOptions(QCoreApplication::arguments(), options, problem)) {
    case ParseResult::Ok:
        break;
    case ParseResult::Exit:
        return print(problem);
    case ParseResult::Error:
        return fail(problem + QStringLiteral(" (see 'kaviod --help')"), ExitUsage);
    }

    const QString shown = QDir::toNativeSeparators(options.database);
    // Only the default database is made on demand: a path given that is not there is rather a
    // typing error in a unit file or a disk that is not mounted than the wish for an empty fleet.
    if (options.databaseGiven && !options.create && !QFileInfo::exists(options.database)) {
        return fail(QStringLiteral("the database %1 does not exist%2 (--create makes a new one)")
                        .arg(shown, QFileInfo(options.database).absoluteDir().exists()
                                        ? QString()
                                        : QStringLiteral(", nor does its folder")));
    }
    try {
        // The lock is named by the file's identity, so a missing file is made first.
        if (!QFileInfo::exists(options.database)) {
            Database::open(options.database);
            Database::close();
        }
    } catch (const Exception& error) {
        return fail(error.message());
    }
    ServiceLock lock(options.database);
    if (!lock.take(KavioctlWaitMs))
        return fail(lock.problem() + QStringLiteral(": ") + shown);

    // From here on a SIGHUP or SIGTERM waits for the event loop instead of ending the process
    // with its default action, however early it comes.
    SignalWatcher watcher;
    std::unique_ptr<KavioService> service;
    std::unique_ptr<HttpApi> http;
    try {
        Database::open(options.database);
        service = std::make_unique<KavioService>(options.database);
    } catch (const Exception& error) {
        return fail(error.message());
    }
    // Everything that can refuse the start is checked before the service touches the store.
    if (!options.http.isEmpty()) {
        http = std::make_unique<HttpApi>(*service);
        if (!http->listen(options, problem))
            return fail(problem);
    }
    QObject::connect(&watcher, &SignalWatcher::reloadRequested, service.get(),
                     &KavioService::reload);
    QObject::connect(&watcher, &SignalWatcher::terminateRequested, service.get(), [&](int number) {
        logLine(QStringLiteral("Signal %1: ending").arg(number));
        if (http)
            http->close();
        service->stop();
    });
    QObject::connect(service.get(), &KavioService::finished, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    try {
        if (!service->start())
            return fail(QStringLiteral("the control socket for kavioctl cannot be opened"));
    } catch (const Exception& error) {
        return fail(error.message());
    }
    logLine(
        QStringLiteral("kaviod %1 serves %2").arg(QCoreApplication::applicationVersion(), shown));
    const int result = app.exec();
    http.reset();
    service.reset();
    Database::close();
    logLine(QStringLiteral("kaviod ended"));
    return result;
}
