// kaviosim: serves simulated Kavio units until interrupted, or prints the SQL that registers
// them with the control center (--sql).

#include "KaviosimOptions.h"
#include "QuitOnSignal.h"
#include "SqlExport.h"
#include "UnitSimulator.h"

#include <QCoreApplication>
#include <QTextStream>

using kavio::sim::Response;
using kavio::sim::SimulatedUnit;

namespace {

constexpr int BadArguments = 2;
constexpr int CannotListen = 1;

QTextStream& out() {
    static QTextStream stream(stdout);
    return stream;
}

QTextStream& err() {
    static QTextStream stream(stderr);
    return stream;
}

QString endpoint(const SimulatedUnit& unit) {
    return QStringLiteral("%1:%2").arg(unit.address().toString()).arg(unit.port());
}

void logExchanges(SimulatedUnit* unit) {
    QObject::connect(unit, &SimulatedUnit::commandHandled, unit,
                     [unit](char letter, const Response& response) {
                         out() << endpoint(*unit) << " <- " << QChar::fromLatin1(letter) << ", "
                               << kavio::sim::describe(response) << Qt::endl;
                     });
    QObject::connect(unit, &SimulatedUnit::malformedCommand, unit, [unit] {
        out() << endpoint(*unit) << " <- malformed command, closed without answer" << Qt::endl;
    });
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kaviosim"));
    QCoreApplication::setApplicationVersion(QStringLiteral("0.1"));

    const KaviosimCommandLine commandLine = parseKaviosimArguments(app.arguments());
    switch (commandLine.outcome) {
    case KaviosimCommandLine::Outcome::Error:
        err() << "kaviosim: " << commandLine.text << Qt::endl
              << "Try 'kaviosim --help' for the options." << Qt::endl;
        return BadArguments;
    case KaviosimCommandLine::Outcome::Help:
        out() << commandLine.text << Qt::flush;
        return 0;
    case KaviosimCommandLine::Outcome::Version:
        out() << "kaviosim " << QCoreApplication::applicationVersion() << Qt::endl;
        return 0;
    case KaviosimCommandLine::Outcome::Run:
        break;
    }
    const KaviosimOptions& options = commandLine.options;

    if (options.sql) {
        const QStringList statements = kavio::sim::masterTableInserts(
            options.count, options.address.toString(), options.basePort, options.passwordText);
        for (const QString& statement : statements) {
            out() << statement << '\n';
        }
        out() << Qt::flush;
        return 0;
    }

    QuitOnSignal quitOnSignal;
    kavio::sim::UnitSimulator simulator;
    if (!simulator.start(options.count, options.unit, options.basePort, options.address)) {
        err() << "kaviosim: cannot listen on " << options.address.toString() << " port "
              << (options.basePort == 0 ? QStringLiteral("(free)")
                                        : QStringLiteral("%1..%2")
                                              .arg(options.basePort)
                                              .arg(int(options.basePort) + options.count - 1))
              << ": a port is taken or the address is not local" << Qt::endl;
        return CannotListen;
    }
    const auto units = simulator.units();
    for (int i = 0; i < units.size(); ++i) {
        SimulatedUnit* unit = units[i];
        // A long run must not accumulate every byte it ever received.
        unit->setRecording(false);
        if (!options.quiet) {
            out() << "Unit " << i + 1 << " listening on " << endpoint(*unit) << Qt::endl;
            logExchanges(unit);
        }
    }
    return app.exec();
}
