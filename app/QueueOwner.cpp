#include "QueueOwner.h"

#include "CommandEngine.h"
#include "CommandProcessor.h"
#include "ControlServer.h"
#include "Exception.h"
#include "InstanceNames.h"
#include "KavioList.h"
#include "Main.h"
#include "Messages.h"
#include "ParallelChoice.h"
#include "Program.h"
#include "ServiceClient.h"
#include "ServingCore.h"
#include "SingleInstance.h"
#include "Timer.h"

#include <QDateTime>
#include <QDir>
#include <QTimer>
#include <cstdio>

namespace kavio {
namespace {

// Reports a store failure as the window does, without stopping the caller.
template <typename Action> void guarded(Action action) {
    try {
        action();
    } catch (const Exception& error) {
        reportException(error);
    }
}

} // namespace

QueueOwner::QueueOwner(const QString& databasePath, SingleInstance& instance, QObject* parent)
    : QObject(parent)
    , m_path(databasePath)
    , m_instance(instance)
    , m_core(new ServingCore(this)) {
    m_core->startPruning();
}

// The client and the core's control socket go before the windows they refer to.
QueueOwner::~QueueOwner() {
    delete m_client;
    delete m_core;
}

void QueueOwner::attach(TKavioProgram& program) {
    m_program = &program;
    TKavioCCMain* main = program.KavioCCMain.get();
    TTimerFrm* runner = program.TimerFrm.get();
    // kavioctl (an import) or a window that follows this one changed the units, groups or
    // timers.
    connect(m_core, &ServingCore::storeChanged, main, [main, runner] {
        guarded([main] { main->reloadList(); });
        runner->RefreshTimers();
    });
    connect(m_core, &ServingCore::settingsChanged, this, &QueueOwner::readSettings);
}

ControlServer* QueueOwner::control() const {
    return m_serving ? m_core->control() : nullptr;
}

bool QueueOwner::serve() {
    TKavioCCMain* main = m_program->KavioCCMain.get();
    TTimerFrm* runner = m_program->TimerFrm.get();
    delete m_client;
    m_client = nullptr;
    m_serving = true;
    main->setServing(true);
    runner->fireHere();
    main->setWindowTitle(QStringLiteral("Kavio Control Center"));

    const bool listening = m_core->serveControl(
        m_path, QStringLiteral("kaviocc"), [runner] { return runner->servedToday().values(); });
    ControlServer* control = m_core->control();
    connect(main, &TKavioCCMain::recordsChanged, control, &ControlServer::notifyChanged);
    connect(main, &TKavioCCMain::settingsEdited, control, &ControlServer::notifySettings);
    connect(runner, &TTimerFrm::fired, control, &ControlServer::notifyFired);
    connect(runner, &TTimerFrm::dayBegan, control, &ControlServer::notifyDayBegan);
    connect(runner, &TTimerFrm::timersComputed, control, &ControlServer::notifyTimers);
    emit servingNow();
    if (listening)
        return true;
    std::fprintf(stderr, "kaviocc: kavioctl cannot reach this program: %s\n",
                 qPrintable(QDir::toNativeSeparators(control->serverName())));
    return false;
}

void QueueOwner::follow() {
    TKavioCCMain* main = m_program->KavioCCMain.get();
    TTimerFrm* runner = m_program->TimerFrm.get();
    TCommandEngine& engine = m_core->engine();
    main->setServing(false);
    delete m_client;
    m_client = new ServiceClient(engine, this);
    ServiceClient* client = m_client;

    connect(client, &ServiceClient::followed, this,
            [this, client, runner](const QString& program, qint64 pid) {
                runner->fireElsewhere(client->servedToday());
                m_program->KavioCCMain->setWindowTitle(
                    QStringLiteral("Kavio Control Center — served by %1 (pid %2)")
                        .arg(program)
                        .arg(pid));
                if (m_announcedEnd)
                    say(QStringLiteral("Following %1 (pid %2), which serves the units")
                            .arg(program)
                            .arg(pid));
                m_announcedEnd = false;
                emit following(program, pid);
            });
    connect(client, &ServiceClient::fired, runner, &TTimerFrm::markFired);
    connect(client, &ServiceClient::dayBegan, runner, &TTimerFrm::newDayList);
    // The timer marks in the list are read at each paint.
    connect(client, &ServiceClient::timersComputed, runner, [main, runner] {
        runner->rebuildList();
        main->KavioList->viewport()->update();
    });
    connect(client, &ServiceClient::storeChanged, main, [main, runner] {
        guarded([main] { main->reloadList(); });
        runner->rebuildList();
    });
    connect(client, &ServiceClient::settingsChanged, this, &QueueOwner::readSettings);
    connect(main, &TKavioCCMain::recordsChanged, client, &ServiceClient::announceChange);
    connect(main, &TKavioCCMain::settingsEdited, client, &ServiceClient::announceSettings);
    connect(runner, &TTimerFrm::timersEdited, client, &ServiceClient::announceChange);
    connect(client, &ServiceClient::ended, this, &QueueOwner::takeOver, Qt::QueuedConnection);
    client->follow(InstanceNames(m_path).controlServerName());
}

// Never waits: a kavioctl that holds the file for a while, or a service that is starting again,
// is looked at again RetryMs later.
void QueueOwner::takeOver() {
    if (m_serving)
        return;
    const SingleInstance::Claim claim = m_instance.claimFile(0);
    if (!m_announcedEnd) {
        m_announcedEnd = true;
        const bool known = m_client && !m_client->program().isEmpty();
        if (known && claim == SingleInstance::Claim::HeldByService &&
            m_instance.kavioctlPid() == m_client->pid())
            m_endedText = QStringLiteral("%1 (pid %2) closed the window's subscription")
                              .arg(m_client->program())
                              .arg(m_client->pid());
        else if (known)
            m_endedText =
                QStringLiteral("%1 (pid %2) ended").arg(m_client->program()).arg(m_client->pid());
        else
            m_endedText = QStringLiteral("The program serving the units does not answer");
        say(m_endedText);
    }
    switch (claim) {
    case SingleInstance::Claim::Taken:
        if (m_client)
            m_client->deleteLater();
        m_client = nullptr;
        serve();
        say(QStringLiteral("This window serves the units now"));
        // A notice that waits for nobody: the queue, polls and timers go on behind it.
        Messages::notify(MessageKind::Information, QStringLiteral("Kavio Control Center"),
                         QStringLiteral("%1.\nThis window serves the units now: the queue, the "
                                        "polling and the timers.")
                             .arg(m_endedText),
                         m_program->KavioCCMain.get());
        return;
    case SingleInstance::Claim::HeldByService:
    case SingleInstance::Claim::HeldByControlCenter:
        QTimer::singleShot(RetryMs, this, [this] {
            if (!m_serving)
                follow();
        });
        return;
    case SingleInstance::Claim::KavioctlKeptIt:
    case SingleInstance::Claim::NoPrivateFolder:
        break;
    }
    QTimer::singleShot(RetryMs, this, &QueueOwner::takeOver);
}

// Another program changed the settings file: the Poll menu and the exchanges at once follow it.
void QueueOwner::readSettings() {
    TKavioCCMain* main = m_program->KavioCCMain.get();
    guarded([main] { main->LoadPollSetting(); });
    main->Parallel->setEngine(&m_core->engine());
}

// In the command log, with the time. (The status bar's fields leave no room for a message.)
void QueueOwner::say(const QString& text) {
    emit m_core->engine().loggedLine(
        TLogLine{QDateTime::currentMSecsSinceEpoch(), {}, {}, 0, text});
}

} // namespace kavio
