#pragma once

#include <QObject>
#include <QString>

namespace kavio {

class ControlServer;
class ServiceClient;
class ServingCore;
class SingleInstance;
class TKavioProgram;

// Who serves the units of the database: this program, or the service kaviod that the window
// then follows.
//
// Serving, the program runs the queue, polls, fires the timers and listens on the control
// socket for kavioctl and for windows that follow it. Following, the window's commands, edits
// and settings go to the service, and the window shows what the service does. When the service
// ends (or is killed), the window says so and serves the units itself, unless another program
// got there first: a service started again, or another control center, is followed instead.
// Nothing that the service was serving is served again here.
class QueueOwner : public QObject {
    Q_OBJECT

public:
    // How long after a failed attempt the next one to serve or follow is made.
    static constexpr int RetryMs = 1000;

    // Makes the serving core, whose engine the windows show; the history is pruned from now on.
    QueueOwner(const QString& databasePath, SingleInstance& instance, QObject* parent = nullptr);
    ~QueueOwner() override;

    ServingCore& core() { return *m_core; }
    // The windows that show the core; before serve() or follow().
    void attach(TKavioProgram& program);

    // This program holds the file: it serves the units. False when kavioctl cannot reach it.
    bool serve();
    // A service holds the file: the window follows it.
    void follow();

    bool serving() const { return m_serving; }
    ControlServer* control() const;
    ServiceClient* client() const { return m_client; }

signals:
    // The window now follows the program of that name, or serves the units itself.
    void following(const QString& program, qint64 pid);
    void servingNow();

private:
    void takeOver();
    void readSettings();
    void say(const QString& text);

    QString m_path;
    SingleInstance& m_instance;
    ServingCore* m_core;
    TKavioProgram* m_program = nullptr;
    bool m_serving = false;
    ServiceClient* m_client = nullptr;
    bool m_announcedEnd = false;
    QString m_endedText;
};

} // namespace kavio
