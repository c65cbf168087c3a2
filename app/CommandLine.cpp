#include "CommandLine.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace kavio {

CommandLine ReadCommandLine(const QStringList& arguments, const QString& defaultDatabase,
                            const QString& version) {
    CommandLine line;
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The Kavio Control Center: a window for switching, polling and timing the Kavio "
        "units of its database.\nkavioctl does the same from the command line."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays this help."));
    const QCommandLineOption versionOption({QStringLiteral("v"), QStringLiteral("version")},
                                           QStringLiteral("Displays the version."));
    const QCommandLineOption database(QStringLiteral("database"),
                                      QStringLiteral("The database file (default: %1).")
                                          .arg(QDir::toNativeSeparators(defaultDatabase)),
                                      QStringLiteral("FILE"));
    const QCommandLineOption create(
        QStringLiteral("create"),
        QStringLiteral("Makes the --database file, and its folder, when they do not exist."));
    parser.addOptions({help, versionOption, database, create});

    const auto refuse = [&line](const QString& problem) {
        line.outcome = CommandLine::Outcome::Refused;
        line.message = QStringLiteral("kaviocc: %1 (see 'kaviocc --help')\n").arg(problem);
        return line;
    };
    if (!parser.parse(QStringList{QStringLiteral("kaviocc")} + arguments))
        return refuse(parser.errorText());
    if (parser.isSet(help)) {
        line.outcome = CommandLine::Outcome::Done;
        line.output = parser.helpText();
        return line;
    }
    if (parser.isSet(versionOption)) {
        line.outcome = CommandLine::Outcome::Done;
        line.output = QStringLiteral("kaviocc %1\n").arg(version);
        return line;
    }
    if (!parser.positionalArguments().isEmpty())
        return refuse(
            QStringLiteral("takes no argument '%1'").arg(parser.positionalArguments().first()));
    if (parser.isSet(database) && parser.value(database).isEmpty())
        return refuse(QStringLiteral("'--database' needs a file"));
    if (parser.isSet(create) && !parser.isSet(database))
        return refuse(QStringLiteral("'--create' goes with '--database'"));

    line.database = parser.isSet(database) ? parser.value(database) : defaultDatabase;
    // Only the default location is made on demand: another path that is not there is rather a
    // typing error or a disk that is not mounted than the wish for a new, empty database.
    if (parser.isSet(database) && !parser.isSet(create) && !QFileInfo::exists(line.database)) {
        line.outcome = CommandLine::Outcome::Refused;
        line.message =
            QStringLiteral("kaviocc: the database %1 does not exist%2 (--create makes a new one)\n")
                .arg(QDir::toNativeSeparators(line.database),
                     QFileInfo(line.database).absoluteDir().exists()
                         ? QString()
                         : QStringLiteral(", nor does its folder"));
        return line;
    }
    line.database = QFileInfo(line.database).absoluteFilePath();
    return line;
}

QStringList ArgumentsBeforeDisplay(int argc, char** argv) {
    // Qt's options, each with one or two dashes; those in `withValue` take the next argument
    // too, unless written as -option=value.
    static const QSet<QByteArray> withValue = {"platform",        "platformpluginpath",
                                               "platformtheme",   "plugin",
                                               "qwindowgeometry", "geometry",
                                               "qwindowtitle",    "title",
                                               "qwindowicon",     "icon",
                                               "display",         "name",
                                               "session",         "style",
                                               "stylesheet",      "qmljsdebugger"};
    static const QSet<QByteArray> alone = {"reverse", "widgetcount", "nograb",
                                           "dograb",  "sync",        "testability"};
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        QByteArray option(argv[i]);
        if (option.startsWith("--") && option.size() > 2)
            option.remove(0, 2);
        else if (option.startsWith('-') && option.size() > 1)
            option.remove(0, 1);
        else
            option.clear();
        const qsizetype equals = option.indexOf('=');
        const QByteArray name = equals < 0 ? option : option.left(equals);
        if (!name.isEmpty() && withValue.contains(name)) {
            if (equals < 0)
                ++i; // its value
            continue;
        }
        if (!name.isEmpty() && equals < 0 && alone.contains(name))
            continue;
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    return arguments;
}

} // namespace kavio
