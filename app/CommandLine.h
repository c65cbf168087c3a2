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

// The program's own arguments, read before the display is opened: argv without the program's
// name and without the options that Qt's application object takes for itself (-platform X,
// -style X, -reverse, ...). A command line that ends the program (help, version, a mistake) is
// answered from these, so that it needs no display.
QStringList ArgumentsBeforeDisplay(int argc, char** argv);

} // namespace kavio
