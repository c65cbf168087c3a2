#pragma once

#include <QList>
#include <QObject>
#include <map>

class QTimer;

namespace kavio {
class TCommandEngine;
struct TCommandResult;
} // namespace kavio

namespace kavio::service {

// PDUDaemon's reboots: the off is queued at once, the on `delay` after the off has ended,
// however it ended. Until then the on waits here, not in the queue.
class DelayedReboots : public QObject {
    Q_OBJECT

public:
    // An on waiting for its time; `dueMs` is 0 while its off is not done.
    struct Waiting {
        quint16 index = 0;
        qint64 dueMs = 0;
    };

    explicit DelayedReboots(TCommandEngine& engine, QObject* parent = nullptr);
    ~DelayedReboots() override;

    // Queues the off of unit `index` (the caller has made sure the queue takes it).
    void start(quint16 index, int delayMs);
    // The ons waiting, and the first `limit` of them in the order they were asked for.
    int count() const { return int(m_delayed.size()); }
    QList<Waiting> first(int limit) const;

private:
    struct Delayed {
        quint16 index = 0;
        quint64 offTicket = 0;
        int delayMs = 0;
        qint64 dueMs = 0; // 0 while the off is not done
        QTimer* timer = nullptr;
    };

    void exchangeFinished(const TCommandResult& result);
    void offEnded(int id);

    TCommandEngine& m_engine;
    int m_next = 0;
    std::map<int, Delayed> m_delayed;
    // off ticket -> delayed on, while the off is not done
    std::map<quint64, int> m_offs;
};

} // namespace kavio::service
