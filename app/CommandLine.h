#pragma once

#include <QString>
#include <QStringList>

namespace kavio {

// kaviocc's command line: --help, --version, --database FILE and --create, as kavioctl reads
// them. Anything else is refused instead of starting the window regardless.
struct CommandLine {
    enum class Outcome {
        Start,  // start the control center on `database`
        Done,   // help or version printed: end with status 0
        Refused // `message` says why: end with status 64
    };

    Outcome outcome = Outcome::Start;
    QString database;
    QString output;  // what to print on standard output
    QString message; // what to print on standard error
};

// Reads the arguments without the program's name (Qt's own options such as -platform have been
// taken out already). `defaultDatabase` is used when --database is not given; a given one must
// exist unless --create is given too.
CommandLine ReadCommandLine(const QStringList& arguments, const QString& defaultDatabase,
                            const QString& version);

// Whether the arguments ask only for help or the version, which needs no display.
bool AsksForHelpOrVersion(int argc, char** argv);

} // namespace kavio
