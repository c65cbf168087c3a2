#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a clean QCoreApplication::quit(): the handler only writes a byte
// into a pipe (all a signal handler may safely do), and the event loop picks it up.
class QuitOnSignal : public QObject {
    Q_OBJECT
public:
    explicit QuitOnSignal(QObject* parent = nullptr);
    ~QuitOnSignal() override;

    bool isInstalled() const { return notifier_ != nullptr; }

private:
    static void handle(int signal);

    QSocketNotifier* notifier_ = nullptr;
};
