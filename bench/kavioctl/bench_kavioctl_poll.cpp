// How long `kavioctl poll --parallel 512` takes, start to exit, for a fleet of units whose replies
// take 100 ms: kaviosim's slow units on loopback, one port each. A lane is free while its unit
// rests, so the fleet is polled in about one reply time once there are lanes for every unit.
#include "BenchSupport.h"
#include "Database.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

using namespace kavio;
using namespace kavio::bench;

namespace {

constexpr int Rounds = 5;
constexpr int ReplyDelayMs = 100;

QString binary(const char* name) {
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(name);
}

// Starts `count` slow units and gives their ports. Their log goes to a file, read for the
// ports: a pipe nobody reads while kavioctl runs would fill and stop the units.
QList<quint16> startUnits(QProcess& simulator, int count, const QString& logFile) {
    QFile::remove(logFile);
    simulator.setStandardOutputFile(logFile);
    simulator.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    simulator.start(binary("kaviosim"), {QStringLiteral("--count"), QString::number(count),
                                         QStringLiteral("--base-port"), QStringLiteral("0"),
                                         QStringLiteral("--behaviour"), QStringLiteral("slow"),
                                         QStringLiteral("--delay"), QString::number(ReplyDelayMs)});
    static const QRegularExpression listening(QStringLiteral(" listening on [0-9.]+:(\\d+)"));
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 20000) {
        QFile log(logFile);
        QList<quint16> ports;
        if (log.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : log.readAll().split('\n')) {
                const auto match = listening.match(QString::fromUtf8(line));
                if (match.hasMatch())
                    ports << quint16(match.captured(1).toUInt());
            }
        }
        if (ports.size() == count)
            return ports;
        QThread::msleep(50);
    }
    qFatal("kaviosim did not start %d units", count);
}

void addUnits(const QList<quint16>& ports) {
    QSqlQuery query(Database::connection());
    query.exec(QStringLiteral("BEGIN"));
    query.exec(QStringLiteral(R"(DELETE FROM "Master")"));
    query.prepare(QStringLiteral(
        R"(INSERT INTO "Master" ("Name", "IPAddress", "Port", "Password") VALUES (?, ?, ?, ?))"));
    for (int n = 0; n < ports.size(); ++n) {
        query.addBindValue(QStringLiteral("unit %1").arg(n));
        query.addBindValue(QStringLiteral("127.0.0.1"));
        query.addBindValue(ports[n]);
        query.addBindValue(QStringLiteral("pw"));
        if (!query.exec())
            qFatal("a unit cannot be added");
    }
    query.exec(QStringLiteral("COMMIT"));
}

double pollMs(const QString& database) {
    QProcess kavioctl;
    QElapsedTimer clock;
    clock.start();
    kavioctl.start(binary("kavioctl"),
                   {QStringLiteral("--database"), database, QStringLiteral("poll"),
                    QStringLiteral("--parallel"), QStringLiteral("512")});
    if (!kavioctl.waitForFinished(60000) || kavioctl.exitCode() != 0)
        qFatal("kavioctl poll failed: %s", kavioctl.readAllStandardError().constData());
    return millisecondsOf(clock);
}

bool fleet(const QString& database, int count, double targetMs) {
    QProcess simulator;
    addUnits(startUnits(simulator, count, database + QStringLiteral(".units.log")));
    std::vector<double> polls;
    for (int round = 0; round < Rounds; ++round)
        polls.push_back(pollMs(database));
    simulator.kill();
    simulator.waitForFinished();
    std::printf("kavioctl poll --parallel 512 of %d units replying after %d ms, %d rounds, "
                "worst %.0f ms\n",
                count, ReplyDelayMs, Rounds, maximum(polls));
    const QByteArray what = QStringLiteral("%1 units, start to exit, median").arg(count).toUtf8();
    return report(what.constData(), median(polls), "ms", targetMs);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(folder.path()));
    const QString database = folder.filePath(QStringLiteral("KavioCC.db"));
    Database::open(database);
    bool met = fleet(database, 400, 300);
    met = fleet(database, 1000, 800) && met;
    Database::close();
    return met ? 0 : 1;
}
