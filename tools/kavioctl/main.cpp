#include "Codes.h"
#include "ConsoleMessages.h"
#include "CtlCommands.h"
#include "Database.h"
#include "Exception.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>
#include <map>

using namespace kavio;
using namespace kavio::ctl;

namespace {

const std::map<QString, quint8> PowerTasks = {
    {QStringLiteral("on"), TaskPowerOn},    {QStringLiteral("off"), TaskPowerOff},
    {QStringLiteral("reboot"), TaskReboot}, {QStringLiteral("pulse"), TaskPulse},
    {QStringLiteral("cycle"), TaskCycle},   {QStringLiteral("query"), TaskQuery},
};

const char* const Description = R"(Controls the Kavio units of the Kavio Control Center's database.

Commands:
  list [--group NAME] [--json]      units and groups, with address, port, groups,
                                    last status and timer mark
  on|off|reboot|pulse|cycle|query TARGET... [--all] [--json]
                                    sends the command to each unit, one at a time;
                                    a target is a unit's or a group's name
  poll [--json]                     queries every unit
  export [--output FILE] [--with-passwords]
                                    the unit and group list as CSV
  import FILE [--dry-run]           adds the units and groups of a CSV file

Exit status: 0 success (for query: every unit is ON), 1 a unit failed or a
name is unknown, 2 query found a unit that is not ON, 64 usage error.)";

// A usage error gets one line on standard error: the problem and where to read more.
int usageError(QTextStream& err, const QString& problem) {
    err << "kavioctl: " << problem << " (see 'kavioctl --help')\n";
    return ExitUsage;
}

struct Options {
    QCommandLineOption database{
        QStringLiteral("database"),
        QStringLiteral("The database file (default: %1).").arg(Database::defaultPath()),
        QStringLiteral("FILE")};
    QCommandLineOption group{QStringLiteral("group"), QStringLiteral("list: one group's members."),
                             QStringLiteral("NAME")};
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
        return {QStringLiteral("all"), QStringLiteral("json")};
    if (command == QLatin1String("poll"))
        return {QStringLiteral("json")};
    if (command == QLatin1String("export"))
        return {QStringLiteral("output"), QStringLiteral("with-passwords")};
    if (command == QLatin1String("import"))
        return {QStringLiteral("dry-run")};
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
                       command == QLatin1String("import");
    if (!known)
        return usageError(err, QStringLiteral("unknown command '%1'").arg(command));
    const QStringList allowed = allowedOptions(command) << QStringLiteral("database");
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

    try {
        Database::open(parser.isSet(options.database) ? parser.value(options.database)
                                                      : Database::defaultPath());
    } catch (const Exception& error) {
        err << "kavioctl: " << error.message() << '\n';
        return ExitFailed;
    }

    const bool json = parser.isSet(options.json);
    if (power != PowerTasks.end())
        return runPower(power->second, arguments, parser.isSet(options.all), json, out, err);
    if (command == QLatin1String("poll"))
        return runPoll(json, out, err);
    if (command == QLatin1String("list"))
        return runList(parser.value(options.group), json, out, err);
    if (command == QLatin1String("export"))
        return runExport(parser.value(options.output), parser.isSet(options.withPasswords), out,
                         err);
    return runImport(arguments.first(), parser.isSet(options.dryRun), out, err);
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
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({options.database, options.group, options.json, options.all, options.output,
                       options.withPasswords, options.dryRun});
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(err, parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        out << parser.helpText();
        return ExitOk;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        out << "kavioctl " << QCoreApplication::applicationVersion() << '\n';
        return ExitOk;
    }
    const int status = run(parser, options, out, err);
    out.flush();
    err.flush();
    Database::close();
    return status;
}
