// Simulated units driven over real loopback TCP by a client in the same process.

#include "LoopbackClient.h"
#include "LoopbackUnits.h"
#include "UnitSim.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

using namespace kavio::sim;
using kavio::test::behaving;
using kavio::test::unusedPort;

namespace {

QByteArray frame(const QByteArray& password, char letter) {
    return CommandFrame::encode(password, letter);
}

} // namespace

Q_DECLARE_METATYPE(kavio::sim::Behaviour)

class TestUnitSim : public QObject {
    Q_OBJECT

private slots:
    void replyWordAndClose_data();
    void replyWordAndClose();
    void switchStateMachine_data();
    void switchStateMachine();
    void cycleBehaviourCountsEveryExchange();
    void slowRepliesAfterItsDelay();
    void preambleArrivesBeforeTheReply();
    void passwordChecking_data();
    void passwordChecking();
    void commandSplitOverSeveralWrites();
    void malformedBytesAreClosedWithoutAnswer_data();
    void malformedBytesAreClosedWithoutAnswer();
    void silentNeverAnswersNorCloses();
    void floodStreamsUntilTheClientCloses();
    void floodStopsAtItsByteLimit();
    void floodGivesUpOnAClientThatStopsReading();
    void recordsExactlyTheBytesReceived();
    void setConfigStartsAfresh();
    void closeStopsListeningAndEndsConnections();
    void simulatorStartsUnitsOnFreePorts();
    void simulatorStartsUnitsOnConsecutivePorts();
    void simulatorFailsWhenAPortIsTaken();
};

void TestUnitSim::replyWordAndClose_data() {
    QTest::addColumn<Behaviour>("behaviour");
    QTest::addColumn<char>("letter");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("switch q starts off") << Behaviour::Switch << 'q' << QByteArray("OFF");
    QTest::newRow("switch n") << Behaviour::Switch << 'n' << QByteArray("ON");
    QTest::newRow("switch c") << Behaviour::Switch << 'c' << QByteArray("CYCLE");
    QTest::newRow("switch unknown letter") << Behaviour::Switch << 'z' << QByteArray();
    QTest::newRow("on f") << Behaviour::On << 'f' << QByteArray("ON");
    QTest::newRow("off n") << Behaviour::Off << 'n' << QByteArray("OFF");
    QTest::newRow("busy q") << Behaviour::Busy << 'q' << QByteArray("BUSY");
    QTest::newRow("cycle n") << Behaviour::Cycle << 'n' << QByteArray("CYCLE");
    QTest::newRow("slow n") << Behaviour::Slow << 'n' << QByteArray("ON");
    QTest::newRow("close q") << Behaviour::CloseAtOnce << 'q' << QByteArray();
    QTest::newRow("garbage q") << Behaviour::Garbage << 'q' << QByteArray("on\r\n");
}

void TestUnitSim::replyWordAndClose() {
    QFETCH(Behaviour, behaviour);
    QFETCH(char, letter);
    QFETCH(QByteArray, reply);

    UnitConfig config = behaving(behaviour);
    config.reply = "on\r\n";
    SimulatedUnit unit(config);
    QVERIFY(unit.listen());
    QSignalSpy closedSpy(&unit, &SimulatedUnit::connectionClosed);

    bool closed = false;
    QCOMPARE(exchange(unit.port(), frame("pw", letter), &closed), reply);
    QVERIFY(closed);
    QTRY_COMPARE_WITH_TIMEOUT(closedSpy.size(), 1, 5000);
    QCOMPARE(unit.connectionCount(), 1);
    QCOMPARE(unit.openConnectionCount(), 0);
}

void TestUnitSim::switchStateMachine_data() {
    QTest::addColumn<int>("cycles");
    QTest::addColumn<QByteArray>("letters");
    QTest::addColumn<QStringList>("replies");

    QTest::newRow("on, off and queries")
        << 3 << QByteArray("qnqfq") << QStringList{"OFF", "ON", "ON", "OFF", "OFF"};
    QTest::newRow("cycle takes three answers then on")
        << 3 << QByteArray("cqqqq") << QStringList{"CYCLE", "CYCLE", "CYCLE", "ON", "ON"};
    QTest::newRow("cycle of one") << 1 << QByteArray("cqq") << QStringList{"CYCLE", "ON", "ON"};
    QTest::newRow("no cycles at all") << 0 << QByteArray("cq") << QStringList{"ON", "ON"};
    QTest::newRow("reboot of an off unit ends on")
        << 2 << QByteArray("rqq") << QStringList{"CYCLE", "CYCLE", "ON"};
    QTest::newRow("pulse of an on unit ends on")
        << 2 << QByteArray("npqq") << QStringList{"ON", "CYCLE", "CYCLE", "ON"};
    QTest::newRow("pulse of an off unit ends off")
        << 2 << QByteArray("pqqq") << QStringList{"CYCLE", "CYCLE", "OFF", "OFF"};
    QTest::newRow("off during a cycle cancels it")
        << 3 << QByteArray("cqfq") << QStringList{"CYCLE", "CYCLE", "OFF", "OFF"};
    QTest::newRow("a new cycle restarts the count")
        << 2 << QByteArray("cqcqq") << QStringList{"CYCLE", "CYCLE", "CYCLE", "CYCLE", "ON"};
    QTest::newRow("unknown letter changes nothing")
        << 3 << QByteArray("nxq") << QStringList{"ON", "", "ON"};
}

void TestUnitSim::switchStateMachine() {
    QFETCH(int, cycles);
    QFETCH(QByteArray, letters);
    QFETCH(QStringList, replies);

    UnitConfig config;
    config.cycles = cycles;
    SimulatedUnit unit(config);
    QVERIFY(unit.listen());
    QStringList got;
    for (const char letter : letters) {
        bool closed = false;
        got << QString::fromLatin1(exchange(unit.port(), frame("secret", letter), &closed));
        QVERIFY2(closed, qPrintable(QStringLiteral("letter %1").arg(letter)));
    }
    QCOMPARE(got, replies);
    QCOMPARE(unit.connectionCount(), int(letters.size()));
}

void TestUnitSim::cycleBehaviourCountsEveryExchange() {
    UnitConfig config = behaving(Behaviour::Cycle);
    config.cycles = 2;
    SimulatedUnit unit(config);
    QVERIFY(unit.listen());
    QStringList got;
    for (const char letter : QByteArray("nfqqc")) {
        got << QString::fromLatin1(exchange(unit.port(), frame({}, letter)));
    }
    QCOMPARE(got, (QStringList{"CYCLE", "CYCLE", "ON", "ON", "ON"}));
}

void TestUnitSim::slowRepliesAfterItsDelay() {
    UnitConfig config = behaving(Behaviour::Slow);
    config.delayMs = 300;
    SimulatedUnit unit(config);
    QVERIFY(unit.listen());

    LoopbackClient client(unit.port());
    QVERIFY(client.waitConnected());
    QElapsedTimer sinceWrite;
    sinceWrite.start();
    client.send(frame("pw", 'n'));
    QVERIFY(client.waitClosedByUnit());
    // Generous bounds: only "clearly later than at once" and "not stuck" are of interest.
    QVERIFY2(sinceWrite.elapsed() >= 250, qPrintable(QString::number(sinceWrite.elapsed())));
    QVERIFY2(sinceWrite.elapsed() < 4000, qPrintable(QString::number(sinceWrite.elapsed())));
    QCOMPARE(client.received, QByteArray("ON"));
    QVERIFY(unit.isOn());
}

void TestUnitSim::preambleArrivesBeforeTheReply() {
    UnitConfig config = behaving(Behaviour::On);
    config.preamble = "Kavio ready\r\n";
    SimulatedUnit unit(config);
    QVERIFY(unit.listen());

    // The preamble comes unasked, and nothing else until the command is there.
    LoopbackClient client(unit.port());
    QVERIFY(client.waitConnected());
    QVERIFY(client.waitReceived(config.preamble.size()));
    QTest::qWait(100);
    QCOMPARE(client.received, config.preamble);
    QVERIFY(!client.closedByUnit);

    client.send(frame("pw", 'q'));
    QVERIFY(client.waitClosedByUnit());
    QCOMPARE(client.received, config.preamble + "ON");

    // A client that writes at once, as the control center does, still reads both in order.
    QCOMPARE(exchange(unit.port(), frame("pw", 'q')), config.preamble + "ON");
}

void TestUnitSim::passwordChecking_data() {
    QTest::addColumn<std::optional<QByteArray>>("required");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("right password")
        << std::optional<QByteArray>("secret") << QByteArray("secret") << QByteArray("ON");
    QTest::newRow("wrong password")
        << std::optional<QByteArray>("secret") << QByteArray("secreT") << QByteArray();
    QTest::newRow("password missing")
        << std::optional<QByteArray>("secret") << QByteArray() << QByteArray();
    QTest::newRow("longer password")
        << std::optional<QByteArray>("secret") << QByteArray("secret1") << QByteArray();
    QTest::newRow("empty password required, empty sent")
        << std::optional<QByteArray>(QByteArray()) << QByteArray() << QByteArray("ON");
    QTest::newRow("empty password required, some sent")
        << std::optional<QByteArray>(QByteArray()) << QByteArray("x") << QByteArray();
    QTest::newRow("none required")
        << std::optional<QByteArray>() << QByteArray("anything") << QByteArray("ON");
    QTest::newRow("binary password") << std::optional<QByteArray>(QByteArray("\0\r\xff", 3))
                                     << QByteArray("\0\r\xff", 3) << QByteArray("ON");
}

void TestUnitSim::passwordChecking() {
    QFETCH(std::optional<QByteArray>, required);
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, reply);

    UnitConfig config = behaving(Behaviour::On);
    config.password = required;
    SimulatedUnit unit(config);
    QVERIFY(unit.listen());
    QSignalSpy commands(&unit, &SimulatedUnit::commandReceived);

    bool closed = false;
    QCOMPARE(exchange(unit.port(), frame(sent, 'n'), &closed), reply);
    QVERIFY(closed);
    // Every complete command is reported with the password it carried, accepted or not.
    QCOMPARE(commands.size(), 1);
    QCOMPARE(commands.at(0).at(0).toByteArray(), sent);
    QCOMPARE(commands.at(0).at(1).value<char>(), 'n');
    QCOMPARE(unit.received(), QList<QByteArray>{frame(sent, 'n')});
    if (sent.isEmpty()) {
        QCOMPARE(unit.received().at(0), QByteArray("\x1b\x1bn\r"));
    }
}

void TestUnitSim::commandSplitOverSeveralWrites() {
    SimulatedUnit unit(behaving(Behaviour::Switch));
    QVERIFY(unit.listen());
    QSignalSpy commands(&unit, &SimulatedUnit::commandReceived);

    LoopbackClient client(unit.port());
    QVERIFY(client.waitConnected());
    const QByteArray bytes = frame("pass word", 'n');
    for (qsizetype i = 0; i + 1 < bytes.size(); ++i) {
        client.send(bytes.mid(i, 1));
        // Each byte should reach the unit on its own before the next one is written.
        QTRY_COMPARE_WITH_TIMEOUT(unit.received().value(0).size(), i + 1, 5000);
    }
    QTest::qWait(50);
    QCOMPARE(commands.size(), 0);
    QVERIFY(client.received.isEmpty());
    QVERIFY(!client.closedByUnit);

    client.send(bytes.right(1));
    QVERIFY(client.waitClosedByUnit());
    QCOMPARE(client.received, QByteArray("ON"));
    QCOMPARE(commands.size(), 1);
    QCOMPARE(commands.at(0).at(0).toByteArray(), QByteArray("pass word"));
    QCOMPARE(unit.received(), QList<QByteArray>{bytes});
}

void TestUnitSim::malformedBytesAreClosedWithoutAnswer_data() {
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("no leading ESC") << QByteArray("q\r");
    QTest::newRow("line feed instead of CR") << QByteArray("\x1bpw\x1bq\n");
    QTest::newRow("second letter") << QByteArray("\x1bpw\x1bqq\r");
    QTest::newRow("CR as letter") << QByteArray("\x1bpw\x1b\r\r");
    QTest::newRow("plain text") << QByteArray("GET / HTTP/1.0\r\n\r\n");
    QTest::newRow("endless password") << (QByteArray("\x1b") + QByteArray(5000, 'a'));
}

void TestUnitSim::malformedBytesAreClosedWithoutAnswer() {
    QFETCH(QByteArray, bytes);

    SimulatedUnit unit(behaving(Behaviour::On));
    QVERIFY(unit.listen());
    QSignalSpy malformed(&unit, &SimulatedUnit::malformedCommand);
    QSignalSpy commands(&unit, &SimulatedUnit::commandReceived);

    bool closed = false;
    QCOMPARE(exchange(unit.port(), bytes, &closed), QByteArray());
    QVERIFY(closed);
    QCOMPARE(malformed.size(), 1);
    QCOMPARE(commands.size(), 0);
    QVERIFY(unit.commandLetters().isEmpty());
    // What the unit keeps of a connection stays bounded however much junk arrives.
    QVERIFY(unit.received().value(0).size() <= 4096);
}

void TestUnitSim::silentNeverAnswersNorCloses() {
    SimulatedUnit unit(behaving(Behaviour::Silent));
    QVERIFY(unit.listen());
    QSignalSpy commands(&unit, &SimulatedUnit::commandReceived);
    QSignalSpy closedSpy(&unit, &SimulatedUnit::connectionClosed);

    LoopbackClient client(unit.port());
    QVERIFY(client.waitConnected());
    client.send(frame("pw", 'q'));
    QVERIFY(commands.wait(5000));
    QTest::qWait(700);
    QVERIFY(client.received.isEmpty());
    QVERIFY(!client.closedByUnit);
    QCOMPARE(client.socket.state(), QAbstractSocket::ConnectedState);
    QCOMPARE(unit.openConnectionCount(), 1);
    QCOMPARE(closedSpy.size(), 0);

    // Only the client ends it, and the unit notices.
    client.closeHere();
    QVERIFY(closedSpy.wait(5000));
    QCOMPARE(unit.openConnectionCount(), 0);
}

void TestUnitSim::floodStreamsUntilTheClientCloses() {
    SimulatedUnit unit(behaving(Behaviour::Flood));
    QVERIFY(unit.listen());
    QSignalSpy closedSpy(&unit, &SimulatedUnit::connectionClosed);

    LoopbackClient client(unit.port());
    QVERIFY(client.waitConnected());
    client.send(frame("pw", 'q'));
    constexpr qsizetype OneMiB = 1024 * 1024;
    QVERIFY(client.waitReceived(OneMiB + 1, 20000));
    QVERIFY(!client.closedByUnit);
    QCOMPARE(client.received.count('X'), client.received.size());

    client.closeHere();
    QVERIFY(closedSpy.wait(5000));
    QCOMPARE(unit.openConnectionCount(), 0);
    const qint64 sentAtClose = unit.bytesSent();
    QVERIFY(sentAtClose > OneMiB);
    QTest::qWait(200);
    QCOMPARE(unit.bytesSent(), sentAtClose);
}

void TestUnitSim::floodStopsAtItsByteLimit() {
    UnitConfig config = behaving(Behaviour::Flood);
    config.floodByteLimit = 300'000; // not a multiple of the chunk size
    config.preamble = "hello";
    SimulatedUnit unit(config);
    QVERIFY(unit.listen());

    bool closed = false;
    const QByteArray reply = exchange(unit.port(), frame("pw", 'q'), &closed);
    QVERIFY(closed);
    QCOMPARE(reply.size(), 5 + 300'000);
    QVERIFY(reply.startsWith("helloXXX"));
    QCOMPARE(reply.count('X'), 300'000);
}

void TestUnitSim::floodGivesUpOnAClientThatStopsReading() {
    UnitConfig config = behaving(Behaviour::Flood);
    config.floodTimeLimitMs = 300;
    SimulatedUnit unit(config);
    QVERIFY(unit.listen());
    QSignalSpy closedSpy(&unit, &SimulatedUnit::connectionClosed);

    LoopbackClient client(unit.port());
    QVERIFY(client.waitConnected());
    client.stopReading(64 * 1024);
    QElapsedTimer sinceWrite;
    sinceWrite.start();
    client.send(frame("pw", 'q'));
    // While the client hangs, the unit keeps no more than a couple of chunks waiting.
    QTest::qWait(150);
    QCOMPARE(unit.openConnectionCount(), 1);
    QVERIFY2(unit.unsentBytes() <= 3 * 64 * 1024, qPrintable(QString::number(unit.unsentBytes())));
    QVERIFY(closedSpy.wait(10000));
    // The unit gave up on its own, because of its time limit, not because it ran out of bytes.
    QVERIFY2(sinceWrite.elapsed() >= 250, qPrintable(QString::number(sinceWrite.elapsed())));
    QVERIFY(unit.bytesSent() < config.floodByteLimit);
    QCOMPARE(unit.openConnectionCount(), 0);
}

void TestUnitSim::recordsExactlyTheBytesReceived() {
    SimulatedUnit unit(behaving(Behaviour::Switch));
    QVERIFY(unit.listen());

    const QByteArray first = frame("a'b\"c", 'n') + "trailing";
    const QByteArray second = "junk";
    const QByteArray third = frame({}, 'q');
    QCOMPARE(exchange(unit.port(), first), QByteArray("ON"));
    QCOMPARE(exchange(unit.port(), second), QByteArray());
    QCOMPARE(exchange(unit.port(), third), QByteArray("ON"));

    QCOMPARE(unit.connectionCount(), 3);
    QCOMPARE(unit.received(), (QList<QByteArray>{first, second, third}));
    QCOMPARE(unit.commandLetters(), (QList<QByteArray>{"n", "q"}));

    unit.clearRecords();
    QVERIFY(unit.received().isEmpty());
    QVERIFY(unit.commandLetters().isEmpty());
    QCOMPARE(exchange(unit.port(), frame({}, 'f')), QByteArray("OFF"));
    QCOMPARE(unit.received(), QList<QByteArray>{frame({}, 'f')});
    QCOMPARE(unit.commandLetters(), QList<QByteArray>{"f"});
}

void TestUnitSim::setConfigStartsAfresh() {
    SimulatedUnit unit(behaving(Behaviour::Switch));
    QVERIFY(unit.listen());
    QCOMPARE(exchange(unit.port(), frame({}, 'n')), QByteArray("ON"));
    QVERIFY(unit.isOn());

    unit.setConfig(behaving(Behaviour::Busy));
    QCOMPARE(unit.config().behaviour, Behaviour::Busy);
    QCOMPARE(exchange(unit.port(), frame({}, 'q')), QByteArray("BUSY"));

    unit.setConfig(behaving(Behaviour::Switch));
    QVERIFY(!unit.isOn());
    QCOMPARE(exchange(unit.port(), frame({}, 'q')), QByteArray("OFF"));
}

void TestUnitSim::closeStopsListeningAndEndsConnections() {
    SimulatedUnit unit(behaving(Behaviour::Silent));
    QVERIFY(unit.listen());
    const quint16 port = unit.port();
    QSignalSpy closedSpy(&unit, &SimulatedUnit::connectionClosed);

    LoopbackClient client(port);
    QVERIFY(client.waitConnected());
    QTRY_COMPARE_WITH_TIMEOUT(unit.openConnectionCount(), 1, 5000);
    unit.close();
    QVERIFY(!unit.isListening());
    QCOMPARE(closedSpy.size(), 1);
    QVERIFY(client.waitClosedByUnit());

    // Nobody answers on the port any more.
    QTcpSocket refused;
    QSignalSpy errors(&refused, &QTcpSocket::errorOccurred);
    refused.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(errors.wait(5000));
    QCOMPARE(refused.error(), QAbstractSocket::ConnectionRefusedError);
}

void TestUnitSim::simulatorStartsUnitsOnFreePorts() {
    UnitSimulator simulator;
    QVERIFY(simulator.start(5, behaving(Behaviour::Off)));
    const auto units = simulator.units();
    QCOMPARE(units.size(), 5);
    QSet<quint16> ports;
    for (SimulatedUnit* unit : units) {
        QVERIFY(unit->isListening());
        QCOMPARE(unit->address(), QHostAddress(QHostAddress::LocalHost));
        ports.insert(unit->port());
        QCOMPARE(exchange(unit->port(), frame({}, 'n')), QByteArray("OFF"));
        QCOMPARE(unit->connectionCount(), 1);
    }
    QCOMPARE(ports.size(), 5);
    QVERIFY(!ports.contains(0));

    simulator.stop();
    QVERIFY(simulator.units().isEmpty());
}

void TestUnitSim::simulatorStartsUnitsOnConsecutivePorts() {
    // The kernel's free port and its two neighbours are almost always free; try a few.
    for (int attempt = 0; attempt < 10; ++attempt) {
        const quint16 base = unusedPort();
        QVERIFY(base != 0);
        if (base > 65533) {
            continue;
        }
        UnitSimulator simulator;
        if (!simulator.start(3, behaving(Behaviour::On), base)) {
            QVERIFY(simulator.units().isEmpty());
            continue;
        }
        const auto units = simulator.units();
        QCOMPARE(units.size(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(units[i]->port(), quint16(base + i));
            QCOMPARE(exchange(units[i]->port(), frame({}, 'q')), QByteArray("ON"));
        }
        return;
    }
    QFAIL("no three consecutive free ports found");
}

void TestUnitSim::simulatorFailsWhenAPortIsTaken() {
    QTcpServer blocker;
    quint16 taken = 0;
    // Want a taken port whose lower neighbour is free, so that the first unit does bind and has
    // to be released again.
    for (int attempt = 0; attempt < 20 && taken == 0; ++attempt) {
        if (!blocker.listen(QHostAddress::LocalHost, 0)) {
            continue;
        }
        QTcpServer neighbour;
        if (blocker.serverPort() > 1 &&
            neighbour.listen(QHostAddress::LocalHost, quint16(blocker.serverPort() - 1))) {
            taken = blocker.serverPort();
        } else {
            blocker.close();
        }
    }
    QVERIFY(taken != 0);

    UnitSimulator simulator;
    QVERIFY(!simulator.start(3, behaving(Behaviour::On), quint16(taken - 1)));
    QVERIFY(simulator.units().isEmpty());
    QVERIFY(!simulator.start(1, behaving(Behaviour::On), taken));
    QVERIFY(simulator.units().isEmpty());

    // The unit that had bound the free neighbour has let it go again.
    QTcpServer again;
    QVERIFY(again.listen(QHostAddress::LocalHost, quint16(taken - 1)));
    again.close();

    // Units started before a failed start stay.
    QVERIFY(simulator.start(2, behaving(Behaviour::On)));
    QVERIFY(!simulator.start(1, behaving(Behaviour::On), taken));
    QCOMPARE(simulator.units().size(), 2);
}

QTEST_MAIN(TestUnitSim)
#include "test_unitsim.moc"
