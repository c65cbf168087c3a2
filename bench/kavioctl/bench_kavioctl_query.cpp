// What `kavioctl query` costs beyond the exchange itself: the whole program, from its start to
// its exit, against one unit of kaviosim on loopback, compared with the same exchange made by an
// engine inside this process.
#include "BenchSupport.h"
#include "Codes.h"
#include "CommandEngine.h"
#include "Database.h"
#include "Table.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace kavio;
using namespace kavio::bench;

namespace {

constexpr int Rounds = 20;

QString binary(const char* name) {
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(name);
}

quint16 startUnit(QProcess& simulator) {
    simulator.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    simulator.start(binary("kaviosim"), {QStringLiteral("--base-port"), QStringLiteral("0"),
                                         QStringLiteral("--behaviour"), QStringLiteral("on")});
    static const QRegularExpression listening(QStringLiteral(" listening on [0-9.]+:(\\d+)"));
    QByteArray seen;
    while (simulator.waitForReadyRead(10000)) {
        seen += simulator.readAll();
        const auto match = listening.match(QString::fromUtf8(seen));
        if (match.hasMatch())
            return quint16(match.captured(1).toUInt());
    }
    qFatal("kaviosim did not start");
}

// One exchange through an engine in this process, from queueing to its result.
double exchangeMs(quint16 index) {
    TCommandEngine engine;
    QEventLoop loop;
    QObject::connect(&engine, &TCommandEngine::exchangeFinished, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    engine.AddToQueue(index, TaskQuery);
    engine.StartQueue();
    loop.exec();
    return millisecondsOf(clock);
}

double programMs(const QString& database) {
    QProcess kavioctl;
    QElapsedTimer clock;
    clock.start();
    kavioctl.start(binary("kavioctl"), {QStringLiteral("--database"), database,
                                        QStringLiteral("query"), QStringLiteral("bench unit")});
    if (!kavioctl.waitForFinished(30000) || kavioctl.exitCode() != 0)
        qFatal("kavioctl query failed: %s", kavioctl.readAllStandardError().constData());
    return millisecondsOf(clock);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder.path()));
    const QString database = folder.filePath(QStringLiteral("KavioCC.db"));
    Database::open(database);
    QProcess simulator;
    const quint16 port = startUnit(simulator);
    TTable master(QStringLiteral("Master.DB"));
    master.open();
    master.append();
    master.fieldByName(QStringLiteral("Name")).setString(QStringLiteral("bench unit"));
    master.fieldByName(QStringLiteral("IPAddress")).setString(QStringLiteral("127.0.0.1"));
    master.fieldByName(QStringLiteral("Port")).setInteger(port);
    master.fieldByName(QStringLiteral("Password")).setString(QStringLiteral("pw"));
    master.post();
    const auto index = quint16(master.fieldByName(QStringLiteral("Index")).asInteger());
    master.close();

    std::vector<double> exchanges, programs;
    for (int round = 0; round < Rounds; ++round) {
        exchanges.push_back(exchangeMs(index));
        programs.push_back(programMs(database));
    }
    std::printf("kavioctl query of one loopback unit, %d rounds\n", Rounds);
    std::printf("  the exchange alone, median: %.1f ms\n", median(exchanges));
    std::printf("  the whole program, median: %.1f ms\n", median(programs));
    const bool met = report("start to exit beyond the exchange, median",
                            median(programs) - median(exchanges), "ms", 300);
    simulator.kill();
    simulator.waitForFinished();
    Database::close();
    return met ? 0 : 1;
}
