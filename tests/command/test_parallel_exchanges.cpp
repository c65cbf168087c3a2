#include "Codes.h"
#include "CommandEngine.h"
#include "LoopbackUnits.h"
#include "TempDatabase.h"
#include "UnitSim.h"

#include <QElapsedTimer>
#include <QHash>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <memory>
#include <vector>

using namespace kavio;
using kavio::sim::Behaviour;
using kavio::sim::SimulatedUnit;
using test::behaving;
using test::TempDatabase;

namespace {

constexpr int Patience = 30000; // ms; only a broken engine needs it

// A loopback unit that notes when each command arrives and how many connections it had open.
struct WatchedUnit {
    std::unique_ptr<SimulatedUnit> unit;
    QList<qint64> arrivals;
    int mostOpen = 0;
};

} // namespace

class TestParallelExchanges : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDatabase> db;
    std::unique_ptr<TCommandEngine> engine;
    std::vector<std::unique_ptr<WatchedUnit>> units;
    QElapsedTimer clock;
    QList<TCommandResult> results;
    QStringList log;
    int liveSockets = 0;
    int mostLiveSockets = 0;
    int mostOpenEverywhere = 0;

    WatchedUnit& addUnit(Behaviour behaviour, int cycles = 3) {
        auto config = behaving(behaviour);
        config.cycles = cycles;
        auto watched = std::make_unique<WatchedUnit>();
        watched->unit = std::make_unique<SimulatedUnit>(config);
        if (!watched->unit->listen())
            qFatal("a simulated unit does not listen");
        WatchedUnit* raw = watched.get();
        connect(raw->unit.get(), &SimulatedUnit::commandReceived, this, [this, raw] {
            raw->arrivals << clock.elapsed();
            raw->mostOpen = std::max(raw->mostOpen, raw->unit->openConnectionCount());
            int open = 0;
            for (const auto& each : units)
                open += each->unit->openConnectionCount();
            mostOpenEverywhere = std::max(mostOpenEverywhere, open);
        });
        units.push_back(std::move(watched));
        return *raw;
    }

    quint16 recordFor(const WatchedUnit& watched, const QString& name) {
        return TempDatabase::addUnit(name, QStringLiteral("127.0.0.1"), watched.unit->port());
    }

    void runUntilIdle() {
        engine->StartQueue();
        QTRY_VERIFY_WITH_TIMEOUT(!engine->busy() && engine->queue().isEmpty(), Patience);
    }

private slots:
    void init() {
        db = std::make_unique<TempDatabase>();
        engine = std::make_unique<TCommandEngine>();
        engine->Timer2->stop(); // the test starts the queue itself, once everything is queued
        results.clear();
        log.clear();
        liveSockets = mostLiveSockets = mostOpenEverywhere = 0;
        connect(engine.get(), &TCommandEngine::exchangeFinished, this,
                [this](const TCommandResult& result) { results << result; });
        connect(engine.get(), &TCommandEngine::logged, this,
                [this](const QString& line) { log << line; });
        // Every connect attempt has a socket of its own: those connecting or connected bound
        // the connections in flight (a socket given up is closed at once, and deleted later).
        engine->setSocketFactory([this](QObject* parent) {
            auto* socket = new QTcpSocket(parent);
            auto live = std::make_shared<bool>(false);
            connect(socket, &QAbstractSocket::stateChanged, this,
                    [this, live](QAbstractSocket::SocketState state) {
                        const bool now = state != QAbstractSocket::UnconnectedState;
                        if (now == *live)
                            return;
                        *live = now;
                        if (now)
                            mostLiveSockets = std::max(mostLiveSockets, ++liveSockets);
                        else
                            --liveSockets;
                    });
            connect(socket, &QObject::destroyed, this, [this, live] {
                if (*live)
                    --liveSockets;
            });
            return socket;
        });
        clock.start();
    }

    void cleanup() {
        engine.reset();
        units.clear();
        db.reset();
    }

    // A random mix of commands over a few units, two records naming one of them, and units that
    // answer CYCLE: at most N exchanges at once, never two with one unit, each unit's pause and
    // the order of its commands kept, and each exchange's log lines together.
    void oneUnitNeverHasTwoExchangesAndKeepsItsOrder() {
        engine->setParallel(0);
        QCOMPARE(engine->parallel(), 1);
        engine->setParallel(1000);
        QCOMPARE(engine->parallel(), TCommandEngine::MaxParallel);
        engine->setParallel(6);

        QList<quint16> keys;
        for (int number = 0; number < 8; ++number) {
            WatchedUnit& unit =
                number < 5 ? addUnit(Behaviour::Switch, 1) : addUnit(Behaviour::Cycle, 2);
            keys << recordFor(unit, QStringLiteral("Unit %1").arg(number));
        }
        keys << recordFor(*units.front(), QStringLiteral("Unit 0 again"));

        QRandomGenerator random(7);
        const quint8 tasks[] = {TaskPowerOn, TaskPowerOff, TaskCycle, TaskQuery};
        QHash<quint16, QList<quint64>> queuedTickets;
        for (int entry = 0; entry < 48; ++entry) {
            const quint16 key = keys.at(random.bounded(int(keys.size())));
            queuedTickets[key] << engine->AddToQueue(key, tasks[random.bounded(4)]);
        }
        runUntilIdle();

        QHash<quint16, QList<quint64>> servedTickets;
        for (const TCommandResult& result : results) {
            QCOMPARE(result.Result, TCommandResult::Outcome::Answered);
            if (result.Source != CommandSource::CycleFollowUp)
                servedTickets[result.Index] << result.Ticket;
        }
        QCOMPARE(servedTickets, queuedTickets);
        QVERIFY(results.size() > 48); // CYCLE replies were followed up

        QVERIFY2(mostOpenEverywhere > 1, "the exchanges never overlapped");
        QVERIFY(mostOpenEverywhere <= 6);
        QVERIFY(mostLiveSockets <= 6);
        for (const auto& watched : units) {
            QVERIFY(watched->mostOpen <= 1);
            for (qsizetype at = 1; at < watched->arrivals.size(); ++at) {
                const qint64 gap = watched->arrivals[at] - watched->arrivals[at - 1];
                QVERIFY2(gap >= TCommandEngine::PauseMs - 5, qPrintable(QString::number(gap)));
            }
        }
        for (qsizetype at = 0; at < log.size(); at += 4) {
            const QString unit = log[at].section(QStringLiteral(": "), 0, 0);
            QCOMPARE(log[at], unit + QStringLiteral(": Connecting 127.0.0.1"));
            for (int step = 1; step < 4; ++step)
                QVERIFY2(log[at + step].startsWith(unit + QStringLiteral(":  ")),
                         qPrintable(log[at + step]));
        }
    }

    // Units that never answer hold a lane each for the reply limit, but the answering units
    // queued behind them go through the other lanes meanwhile.
    void silentUnitsTakeNoMoreThanTheirLanes() {
        constexpr int Each = 24;
        constexpr int Lanes = 8;
        engine->setParallel(Lanes);
        QList<quint16> answering;
        for (int number = 0; number < 2 * Each; ++number) {
            const bool silent = number < Each;
            WatchedUnit& unit = addUnit(silent ? Behaviour::Silent : Behaviour::On);
            const quint16 key = recordFor(unit, QStringLiteral("Unit %1").arg(number));
            engine->AddToQueue(key, TaskQuery);
            if (!silent)
                answering << key;
        }
        runUntilIdle();
        const qint64 took = clock.elapsed();
        // One at a time this takes Each * (600 + 100) ms, nearly 17 s; in eight lanes about 2 s.
        const qint64 serial = Each * (TCommandEngine::ReplyLimitMs + TCommandEngine::PauseMs) +
                              Each * TCommandEngine::PauseMs;
        QVERIFY2(took < serial / 2, qPrintable(QString::number(took)));
        for (quint16 key : answering)
            QCOMPARE(TempDatabase::status(key), qint64(StatusOn));
    }

    // A unit's pause is its own: side by side, a lane takes another unit while the unit it
    // served rests, so quick units queued later overtake the resting unit's next command.
    void laneIsFreeWhileItsUnitRests() {
        engine->setParallel(2);
        WatchedUnit& resting = addUnit(Behaviour::On);
        const quint16 first = recordFor(resting, QStringLiteral("rests"));
        QList<quint16> others;
        for (int number = 0; number < 3; ++number)
            others << recordFor(addUnit(Behaviour::On), QStringLiteral("Other %1").arg(number));
        engine->AddToQueue(first, TaskQuery);
        engine->AddToQueue(first, TaskPowerOn);
        for (const quint16 key : std::as_const(others))
            engine->AddToQueue(key, TaskQuery);
        runUntilIdle();
        QList<quint16> order;
        for (const TCommandResult& result : std::as_const(results))
            order << result.Index;
        // Held through the pause, the lanes would serve first and Other 0, then first again
        // and Other 1, then Other 2 last.
        QCOMPARE(order.size(), 5);
        QCOMPARE(order.count(first), 2);
        QVERIFY(order.indexOf(first) < 2);
        QCOMPARE(order.last(), first);
        QCOMPARE(resting.arrivals.size(), 2);
        QVERIFY2(resting.arrivals[1] - resting.arrivals[0] >= TCommandEngine::PauseMs - 5,
                 qPrintable(QString::number(resting.arrivals[1] - resting.arrivals[0])));
    }

    // However many commands wait for other units, a unit's first command waits for at most one
    // exchange of each unit ahead of it: thousands of entries for keys that share one address
    // and port, and a long line for one unit, hold back nobody else.
    void backlogHoldsBackNoOtherUnit_data() {
        QTest::addColumn<int>("lanes");
        QTest::newRow("one at a time") << 1;
        QTest::newRow("four at once") << 4;
    }

    void backlogHoldsBackNoOtherUnit() {
        QFETCH(int, lanes);
        engine->setParallel(lanes);
        WatchedUnit& shared = addUnit(Behaviour::On);
        constexpr int Keys = 65; // more entries than one look along the queue used to pass
        for (int key = 0; key < Keys; ++key) {
            const quint16 index = recordFor(shared, QStringLiteral("Shared %1").arg(key));
            for (int entry = 0; entry < TCommandEngine::MaxWaitingPerUnit; ++entry)
                QVERIFY(engine->AddToQueue(index, TaskQuery) != 0);
        }
        QCOMPARE(engine->queue().size(), Keys * TCommandEngine::MaxWaitingPerUnit);
        WatchedUnit& late = addUnit(Behaviour::On);
        const quint16 lateKey = recordFor(late, QStringLiteral("late"));
        engine->AddToQueue(lateKey, TaskQuery);
        engine->StartQueue();
        // The backlog takes minutes; the late unit's turn comes after one exchange per key
        // ahead of it, one at a time (65 exchanges and pauses, about 7 s), or at once beside
        // the shared unit's exchanges.
        QTRY_VERIFY_WITH_TIMEOUT(late.arrivals.size() == 1, Patience);
        QVERIFY2(shared.arrivals.size() <= Keys + 1,
                 qPrintable(QString::number(shared.arrivals.size())));
        if (lanes > 1)
            QVERIFY2(shared.arrivals.size() <= 2,
                     qPrintable(QString::number(shared.arrivals.size())));
    }

    // The queue is bounded: per unit, then in all. Beyond, AddToQueue gives no ticket, queues
    // nothing and says why; other units are still taken.
    void queueRefusesBeyondItsBounds() {
        engine->setParallel(1);
        for (int entry = 0; entry < TCommandEngine::MaxWaitingPerUnit; ++entry)
            QVERIFY(engine->AddToQueue(7, TaskQuery) != 0);
        QCOMPARE(engine->refusal(), TCommandEngine::Refusal::None);
        QCOMPARE(engine->waitingFor(7), TCommandEngine::MaxWaitingPerUnit);
        QCOMPARE(engine->AddToQueue(7, TaskPowerOn), quint64(0));
        QCOMPARE(engine->refusal(), TCommandEngine::Refusal::UnitFull);
        QVERIFY2(engine->refusalText().contains(QStringLiteral("64 commands wait")),
                 qPrintable(engine->refusalText()));
        QCOMPARE(engine->waitingFor(7), TCommandEngine::MaxWaitingPerUnit);
        QVERIFY(engine->AddToQueue(8, TaskQuery) != 0);
        // A request is taken whole or not at all.
        QCOMPARE(engine->wouldRefuse({{9, TaskQuery}, {9, TaskQuery}}),
                 TCommandEngine::Refusal::None);
        QList<TCommandEntry> tooMany(TCommandEngine::MaxWaitingPerUnit,
                                     TCommandEntry{9, TaskQuery});
        QCOMPARE(engine->wouldRefuse(tooMany), TCommandEngine::Refusal::None);
        tooMany << TCommandEntry{9, TaskQuery};
        QCOMPARE(engine->wouldRefuse(tooMany), TCommandEngine::Refusal::UnitFull);

        quint16 key = 9;
        while (engine->queueLength() < TCommandEngine::MaxQueued) {
            if (engine->waitingFor(key) == TCommandEngine::MaxWaitingPerUnit)
                ++key;
            QVERIFY(engine->AddToQueue(key, TaskQuery) != 0);
        }
        QCOMPARE(engine->AddToQueue(key + 1, TaskQuery), quint64(0));
        QCOMPARE(engine->refusal(), TCommandEngine::Refusal::QueueFull);
        QVERIFY2(engine->refusalText().contains(QStringLiteral("100000")),
                 qPrintable(engine->refusalText()));
        QCOMPARE(engine->queue().size(), TCommandEngine::MaxQueued);
        QCOMPARE(engine->entriesLeft(), TCommandEngine::MaxQueued);
    }
};

QTEST_GUILESS_MAIN(TestParallelExchanges)
#include "test_parallel_exchanges.moc"
