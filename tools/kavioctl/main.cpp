#include "Codes.h"
#include "CommandEngine.h"
#include "ConsoleMessages.h"
#include "ControlCharacters.h"
#include "CtlCommands.h"
#include "Database.h"
#include "Exception.h"
#include "QueueSettings.h"
#include "SettingsFile.h"
#include "UnitCommandRunner.h"
#include "UnitDirectory.h"
#include "WriteAccess.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTextStream>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

using namespace kavio;
using namespace kavio::ctl;

namespace {

const std::map<QString, quint8> PowerTasks = {
    {QStringLiteral("on"), TaskPowerOn},    {QStringLiteral("off"), TaskPowerOff},
    {QStringLiteral("reboot"), TaskReboot}, {QStringLiteral("pulse"), TaskPulse},
    {QStringLiteral("cycle"), TaskCycle},   {QStringLiteral("query"), TaskQuery},
};

constexpr int DefaultWaitSeconds = 60;
constexpr int MaxWaitSeconds = 24 * 60 * 60;

const char* const Description = R"(Controls the Kavio units of the Kavio Control Center's database.

Commands:
  list [--group NAME] [--json]      units and groups, with address, port, groups,
                                    last status and timer mark
  on|off|reboot|pulse|cycle|query TARGET... [--all] [--json] [--wait SECONDS]
                                    [--parallel N]
                                    sends the command to each unit, one at a time
                                    (or N at once); a target is a unit's or a
                                    group's name
  poll [--json] [--wait SECONDS] [--parallel N]
                                    queries every unit
  export [--output FILE] [--with-passwords]
                                    the unit and group list as CSV
  import FILE [--dry-run] [--wait SECONDS]
                                    adds the units and groups of a CSV file
  history [--unit NAME | --group NAME] [--since WHEN] [--until WHEN]
          [--source S] [--limit N] [--json | --csv]
                                    the exchanges kept, oldest first, one line of
                                    tab-separated columns each: time (UTC), key,
                                    unit, address, command, source, reply, status,
                                    outcome, duration in ms. WHEN is an ISO date
                                    or time (2026-12-07, 12:30, 2026-12-07T12:30)
                                    or a relative time (90s, 15m, 2h, 3d, 1w);
                                    S is button, popup, poll, timed-poll, timer,
                                    cycle-follow-up, kavioctl or http; --limit
                                    keeps the newest N

--database FILE must exist unless --create is given; the default database is
made when it is missing.

Exit status: 0 success (for query: every unit is ON), 1 a unit failed or a
name is unknown (history: a bad filter), 2 query found a unit that is not ON,
64 usage error.)";

// A usage error gets one line on standard error: the problem and where to read more.
int usageError(QTextStream& err, const QString& problem) {
    err << "kavioctl: " << problem << " (see 'kavioctl --help')\n";
    return ExitUsage;
}

struct Options {
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("Displays this help.")};
    QCommandLineOption database{
        QStringLiteral("database"),
        QStringLiteral("The database file (default: %1).").arg(Database::defaultPath()),
        QStringLiteral("FILE")};
    QCommandLineOption create{
        QStringLiteral("create"),
        QStringLiteral("Makes the --database file, and its folder, when they do not exist.")};
    QCommandLineOption wait{
        QStringLiteral("wait"),
        QStringLiteral("Waits at most SECONDS for another program's writing, another kavioctl, "
                       "and a unit that keeps answering CYCLE (default %1).")
            .arg(DefaultWaitSeconds),
        QStringLiteral("SECONDS"), QString::number(DefaultWaitSeconds)};
    QCommandLineOption parallel{
        QStringLiteral("parallel"),
        QStringLiteral("Runs up to N exchanges at once, never two with one unit (1 to 512; "
                       "default: Queue/Parallel of the settings file, else 1). A running control "
                       "center serves with its own setting."),
        QStringLiteral("N")};
    QCommandLineOption group{QStringLiteral("group"),
                             QStringLiteral("list, history: one group's members."),
                             QStringLiteral("NAME")};
    QCommandLineOption unit{QStringLiteral("unit"), QStringLiteral("history: one unit."),
                            QStringLiteral("NAME")};
    QCommandLineOption since{QStringLiteral("since"), QStringLiteral("history: from this time on."),
                             QStringLiteral("WHEN")};
    QCommandLineOption until{QStringLiteral("until"), QStringLiteral("history: before this time."),
                             QStringLiteral("WHEN")};
    QCommandLineOption source{QStringLiteral("source"),
                              QStringLiteral("history: only what this source queued."),
                              QStringLiteral("S")};
    QCommandLineOption limit{QStringLiteral("limit"), QStringLiteral("history: the newest N only."),
                             QStringLiteral("N")};
    QCommandLineOption csv{QStringLiteral("csv"), QStringLiteral("history: output as CSV.")};
    QCommandLineOption json{QStringLiteral("json"), QStringLiteral("Output as JSON.")};
    QCommandLineOption all{QStringLiteral("all"), QStringLiteral("Every unit is a target.")};
    QCommandLineOption output{QStringLiteral("output"),
                              QStringLiteral("export: write to FILE instead of standard output."),
                              QStringLiteral("FILE")};
    QCommandLineOption withPasswords{QStringLiteral("with-passwords"),
                                     QStringLiteral("export: include the units' passwords.")};
    QCommandLineOption dryRun{QStringLiteral("dry-run"),
                              QStringLiteral("import: check the file, change nothing.")};
};

// The options each command accepts; any other given is a usage error.
QStringList allowedOptions(const QString& command) {
    if (command == QLatin1String("list"))
        return {QStringLiteral("group"), QStringLiteral("json")};
    if (PowerTasks.count(command))
        return {QStringLiteral("all"), QStringLiteral("json"), QStringLiteral("wait"),
                QStringLiteral("parallel")};
    if (command == QLatin1String("poll"))
        return {QStringLiteral("json"), QStringLiteral("wait"), QStringLiteral("parallel")};
    if (command == QLatin1String("export"))
        return {QStringLiteral("output"), QStringLiteral("with-passwords")};
    if (command == QLatin1String("import"))
        return {QStringLiteral("dry-run"), QStringLiteral("wait")};
    if (command == QLatin1String("history"))
        return {QStringLiteral("unit"),  QStringLiteral("group"),  QStringLiteral("since"),
                QStringLiteral("until"), QStringLiteral("source"), QStringLiteral("limit"),
                QStringLiteral("json"),  QStringLiteral("csv")};
    return {};
}

int run(const QCommandLineParser& parser, const Options& options, QTextStream& out,
        QTextStream& err) {
    QStringList arguments = parser.positionalArguments();
    if (arguments.isEmpty())
        return usageError(err, QStringLiteral("no command given"));
    const QString command = arguments.takeFirst();
    const bool known = PowerTasks.count(command) || command == QLatin1String("list") ||
                       command == QLatin1String("poll") || command == QLatin1String("export") ||
                       command == QLatin1String("import") || command == QLatin1String("history");
    if (!known)
        return usageError(err, QStringLiteral("unknown command '%1'").arg(command));
    const QStringList allowed = allowedOptions(command)
                                << QStringLiteral("database") << QStringLiteral("create");
    for (const QString& name : parser.optionNames()) {
        if (!allowed.contains(name))
            return usageError(
                err, QStringLiteral("option '--%1' does not go with '%2'").arg(name, command));
    }

    const auto power = PowerTasks.find(command);
    if (power != PowerTasks.end() && arguments.isEmpty() && !parser.isSet(options.all))
        return usageError(err,
                          QStringLiteral("'%1' needs a unit or group name, or --all").arg(command));
    if (command == QLatin1String("import") && arguments.size() != 1)
        return usageError(err, QStringLiteral("'import' takes exactly one file"));
    const bool takesNames = power != PowerTasks.end() || command == QLatin1String("import");
    if (!takesNames && !arguments.isEmpty())
        return usageError(
            err, QStringLiteral("'%1' takes no argument '%2'").arg(command, arguments.first()));

    if (parser.isSet(options.json) && parser.isSet(options.csv))
        return usageError(err, QStringLiteral("give either '--json' or '--csv'"));
    if (parser.isSet(options.group) && parser.value(options.group).isEmpty())
        return usageError(err, QStringLiteral("'--group' needs a group's name"));
    bool number = false;
    const int waitSeconds = parser.value(options.wait).toInt(&number);
    if (!number || waitSeconds < 0 || waitSeconds > MaxWaitSeconds)
        return usageError(
            err,
            QStringLiteral("'--wait' takes a number of seconds from 0 to %1").arg(MaxWaitSeconds));
    const int waitMs = waitSeconds * 1000;
    int exchanges = 1;
    if (parser.isSet(options.parallel)) {
        if (!parseParallel(parser.value(options.parallel), exchanges))
            return usageError(err, QStringLiteral("'--parallel' takes a number from %1 to %2")
                                       .arg(TCommandEngine::MinParallel)
                                       .arg(TCommandEngine::MaxParallel));
    } else if (PowerTasks.count(command) || command == QLatin1String("poll")) {
        const ParallelSetting setting = readParallelSetting(settingsFile());
        if (!setting.problem.isEmpty())
            err << "kavioctl: " << escapeControlCharacters(setting.problem) << '\n';
        exchanges = setting.exchanges;
    }
    UnitCommandRunner::setExchangesAtOnce(exchanges);

    // Only the default location is made on demand: another path that is not there is rather a
    // typing error or a disk that is not mounted than the wish for a new, empty database.
    const bool given = parser.isSet(options.database);
    const QString path = given ? parser.value(options.database) : Database::defaultPath();
    if (given && !parser.isSet(options.create) && !QFileInfo::exists(path)) {
        err << "kavioctl: the database " << escapeControlCharacters(QDir::toNativeSeparators(path))
            << (QFileInfo(path).absoluteDir().exists() ? " does not exist"
                                                       : " does not exist, nor does its folder")
            << " (--create makes a new one)\n";
        return ExitFailed;
    }
    try {
        // Writers wait for their turn to write themselves, up to --wait.
        Database::open(path, Database::Access::Read);
    } catch (const Exception& error) {
        err << "kavioctl: " << escapeControlCharacters(error.message()) << '\n';
        return ExitFailed;
    }

    const bool json = parser.isSet(options.json);
    if (power != PowerTasks.end() || command == QLatin1String("poll")) {
        // The statuses the units answer have to be written: find out before anything is sent.
        if (!beginWriting(waitMs, err))
            return ExitFailed;
        abandonWriting();
    }
    if (power != PowerTasks.end())
        return runPower(power->second, arguments, parser.isSet(options.all), json, waitMs, out,
                        err);
    if (command == QLatin1String("poll"))
        return runPoll(json, waitMs, out, err);
    if (command == QLatin1String("history")) {
        const auto value = [&](const QCommandLineOption& option) {
            return parser.isSet(option) ? parser.value(option) : QString();
        };
        return runHistory({value(options.unit), value(options.group), value(options.since),
                           value(options.until), value(options.source), value(options.limit), json,
                           parser.isSet(options.csv)},
                          out, err);
    }
    if (command == QLatin1String("list"))
        return runList(parser.value(options.group), json, out, err);
    if (command == QLatin1String("export"))
        return runExport(parser.value(options.output), parser.isSet(options.withPasswords), out,
                         err);
    return runImport(arguments.first(), parser.isSet(options.dryRun), waitMs, out, err);
}

// Everything written to standard output has to arrive: a full disk or a closed pipe is a
// failure, reported on standard error, not a success with nothing written.
int checkedOutput(int status, QTextStream& out, QTextStream& err) {
    out.flush();
    QString problem;
    if (out.status() != QTextStream::Ok)
        problem = out.device()->errorString();
    else if (std::fflush(stdout) != 0 || std::ferror(stdout))
        problem = QString::fromLocal8Bit(std::strerror(errno));
    if (problem.isNull())
        return status;
    err << "kavioctl: standard output cannot be written: " << problem << '\n';
    return ExitFailed;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kavioctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KAVIOCC_VERSION));

    QTextStream out(stdout);
    QTextStream err(stderr);
    const ConsoleMessageSink console(err);
    Options options;
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(Description));
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("What to do."),
                                 QStringLiteral("COMMAND [ARGUMENT...]"));
    // Help of its own: Qt's adds --help-all, whose Qt options a console program does not have.
    parser.addOption(options.help);
    parser.addVersionOption();
    parser.addOptions({options.database, options.create, options.wait, options.parallel,
                       options.group, options.json, options.all, options.output,
                       options.withPasswords, options.dryRun, options.unit, options.since,
                       options.until, options.source, options.limit, options.csv});
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(err, parser.errorText());
    if (parser.isSet(options.help)) {
        out << parser.helpText();
        return checkedOutput(ExitOk, out, err);
    }
    if (parser.isSet(QStringLiteral("version"))) {
        out << "kavioctl " << QCoreApplication::applicationVersion() << '\n';
        return checkedOutput(ExitOk, out, err);
    }
    const int status = checkedOutput(run(parser, options, out, err), out, err);
    err.flush();
    Database::close();
    return status;
}
