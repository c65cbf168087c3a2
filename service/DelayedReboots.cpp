#include "DelayedReboots.h"

#include "Codes.h"
#include "CommandEngine.h"
#include "ServiceLog.h"

#include <QDateTime>
#include <QTimer>

namespace kavio::service {

DelayedReboots::DelayedReboots(TCommandEngine& engine, QObject* parent)
    : QObject(parent)
    , m_engine(engine) {
    connect(&m_engine, &TCommandEngine::exchangeFinished, this, &DelayedReboots::exchangeFinished);
}

DelayedReboots::~DelayedReboots() = default;

void DelayedReboots::start(quint16 index, int delayMs) {
    const int id = m_next++;
    Delayed& delayed = m_delayed[id];
    delayed.index = index;
    delayed.delayMs = delayMs;
    delayed.offTicket = m_engine.AddToQueue(index, TaskPowerOff, CommandSource::Http);
    m_offs[delayed.offTicket] = id;
    m_engine.StartQueue();
}

QList<DelayedReboots::Waiting> DelayedReboots::first(int limit) const {
    QList<Waiting> waiting;
    for (auto at = m_delayed.cbegin(); at != m_delayed.cend() && waiting.size() < limit; ++at)
        waiting << Waiting{at->second.index, at->second.dueMs};
    return waiting;
}

void DelayedReboots::exchangeFinished(const TCommandResult& result) {
    if (const auto off = m_offs.find(result.Ticket); off != m_offs.end()) {
        const int id = off->second;
        m_offs.erase(off);
        offEnded(id);
    }
}

// The off of a reboot has ended, however: its on follows after the delay.
void DelayedReboots::offEnded(int id) {
    Delayed& delayed = m_delayed.at(id);
    delayed.dueMs = QDateTime::currentMSecsSinceEpoch() + delayed.delayMs;
    delayed.timer = new QTimer(this);
    delayed.timer->setSingleShot(true);
    // A coarse timer may end a little early: the unit keeps the whole gap it was promised.
    delayed.timer->setTimerType(Qt::PreciseTimer);
    connect(delayed.timer, &QTimer::timeout, this, [this, id] {
        const auto found = m_delayed.find(id);
        if (found == m_delayed.end())
            return;
        const quint16 index = found->second.index;
        found->second.timer->deleteLater();
        m_delayed.erase(found);
        try {
            if (m_engine.AddToQueue(index, TaskPowerOn, CommandSource::Http) == 0)
                logLine(QStringLiteral("HTTP: the on of a reboot is not queued: %1")
                            .arg(m_engine.refusalText()));
            m_engine.StartQueue();
        } catch (const std::exception& error) {
            logLine(QString::fromUtf8(error.what()));
        }
    });
    delayed.timer->start(delayed.delayMs);
}

} // namespace kavio::service
