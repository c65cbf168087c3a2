#pragma once

#include <QObject>

class QSocketNotifier;

namespace kavio::service {

// Turns SIGTERM, SIGINT and SIGHUP into signals of the event loop: the handler only writes the
// signal's number into a pipe, which the event loop reads.
class SignalWatcher : public QObject {
    Q_OBJECT

public:
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

signals:
    void terminateRequested(int signal);
    void reloadRequested();

private:
    void readSignals();

    QSocketNotifier* m_notifier = nullptr;
};

} // namespace kavio::service
