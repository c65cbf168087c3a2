#include "ServiceClient.h"

#include "CommandEngine.h"
#include "ControlNotice.h"
#include "ControlProtocol.h"
#include "LocalListener.h"

#include <QLocalSocket>
#include <QTimer>

namespace kavio {

ServiceClient::ServiceClient(TCommandEngine& engine, QObject* parent)
    : QObject(parent)
    , m_engine(engine)
    , m_helloTimer(new QTimer(this))
    , m_flushTimer(new QTimer(this)) {
    m_helloTimer->setSingleShot(true);
    m_helloTimer->setInterval(HelloTimeoutMs);
    connect(m_helloTimer, &QTimer::timeout, this, &ServiceClient::end);
    // Entries queued in one turn of the event loop (a poll of every unit) go as one request.
    m_flushTimer->setSingleShot(true);
    m_flushTimer->setInterval(0);
    connect(m_flushTimer, &QTimer::timeout, this, &ServiceClient::flush);
}

ServiceClient::~ServiceClient() {
    if (m_socket)
        m_engine.setForward({});
}

void ServiceClient::follow(const QString& serverName) {
    delete m_socket;
    m_helloSeen = false;
    m_served.clear();
    m_socket = new QLocalSocket(this);
    m_socket->setReadBufferSize(control::MaxLineBytes + 1);
    connect(m_socket, &QLocalSocket::connected, this, [this] {
        if (!peerIsThisUser(*m_socket)) {
            end();
            return;
        }
        control::Request subscribe;
        subscribe.subscribe = true;
        send(control::encodeRequest(subscribe));
        flush();
    });
    connect(m_socket, &QLocalSocket::readyRead, this, &ServiceClient::read);
    connect(m_socket, &QLocalSocket::disconnected, this, &ServiceClient::end, Qt::QueuedConnection);
    connect(m_socket, &QLocalSocket::errorOccurred, this, &ServiceClient::end,
            Qt::QueuedConnection);
    m_engine.setForward([this](const TCommandEntry& entry) {
        m_outgoing.append(entry);
        if (m_socket && m_socket->state() == QLocalSocket::ConnectedState)
            m_flushTimer->start();
    });
    m_helloTimer->start();
    m_socket->connectToServer(serverName);
}

void ServiceClient::announceChange() {
    control::Request refresh;
    refresh.refresh = true;
    send(control::encodeRequest(refresh));
}

void ServiceClient::announceSettings() {
    control::Request settings;
    settings.settings = true;
    send(control::encodeRequest(settings));
}

void ServiceClient::send(const QByteArray& line) {
    if (m_socket && m_socket->state() == QLocalSocket::ConnectedState)
        m_socket->write(line);
}

// One request per run of entries from the same source, in the order they were queued.
void ServiceClient::flush() {
    if (!m_socket || m_socket->state() != QLocalSocket::ConnectedState)
        return;
    qsizetype from = 0;
    while (from < m_outgoing.size()) {
        qsizetype to = from + 1;
        while (to < m_outgoing.size() && m_outgoing.at(to).Source == m_outgoing.at(from).Source)
            ++to;
        control::Request request;
        request.entries = m_outgoing.mid(from, to - from);
        m_socket->write(control::encodeRequest(request));
        from = to;
    }
    m_outgoing.clear();
}

void ServiceClient::read() {
    while (m_socket && m_socket->canReadLine()) {
        const std::optional<control::Notice> notice =
            control::decodeNotice(m_socket->readLine(control::MaxLineBytes + 1));
        if (!notice)
            continue; // an error about a request of ours: the serving program logged it
        switch (notice->kind) {
        case control::Notice::Kind::Hello:
            m_helloTimer->stop();
            m_helloSeen = true;
            m_program = notice->program;
            m_pid = notice->pid;
            m_served = QSet<QString>(notice->served.cbegin(), notice->served.cend());
            emit followed(m_program, m_pid);
            break;
        case control::Notice::Kind::Log:
            emit m_engine.loggedLine(notice->log);
            emit m_engine.logged(notice->log.Text);
            break;
        case control::Notice::Kind::Finished:
            emit m_engine.exchangeFinished(notice->result);
            break;
        case control::Notice::Kind::Status:
            emit m_engine.statusChanged();
            break;
        case control::Notice::Kind::Queue:
            m_engine.setForwardedQueue(notice->queueLength, notice->queueHead);
            break;
        case control::Notice::Kind::Fired:
            m_served.insert(notice->key);
            emit fired(notice->key);
            break;
        case control::Notice::Kind::DayBegan:
            m_served.clear();
            emit dayBegan();
            break;
        case control::Notice::Kind::Changed:
            emit storeChanged();
            break;
        case control::Notice::Kind::Timers:
            emit timersComputed();
            break;
        case control::Notice::Kind::Settings:
            emit settingsChanged();
            break;
        }
    }
    if (m_socket && m_socket->bytesAvailable() > control::MaxLineBytes)
        end();
}

void ServiceClient::end() {
    if (!m_socket)
        return;
    m_helloTimer->stop();
    m_flushTimer->stop();
    m_socket->disconnect(this);
    m_socket->abort();
    m_socket->deleteLater();
    m_socket = nullptr;
    m_helloSeen = false;
    m_outgoing.clear();
    m_engine.setForward({});
    m_engine.setForwardedQueue(0, CommandSource::Button);
    emit ended();
}

} // namespace kavio
