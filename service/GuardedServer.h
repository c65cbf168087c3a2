#pragma once

#include "HttpGuard.h"

#include <QSslConfiguration>
#include <QTcpServer>

class QTimer;

namespace kavio::service {

// A listening socket whose connections pass their guard (HttpGuard) before the HTTP server sees
// them; with a TLS configuration each connection is a QSslSocket whose handshake starts at once,
// and the server reads only what was decrypted.
//
// Never more than HttpLimits::MaxConnections at once: at the limit it stops accepting, and the
// kernel's listen backlog keeps the next ones waiting rather than refusing them. While some wait
// there, the open connection that has sent the least in the longest time (and has had its
// chance: see ConnectionGuard::evictable) makes room for one of them.
class GuardedServer : public QTcpServer {
public:
    explicit GuardedServer(QObject* parent);
    ~GuardedServer() override;

    void setTls(const QSslConfiguration& configuration);
    const ConnectionPool& pool() const { return m_pool; }
    // Connections accepted by the kernel that wait for this server to take them.
    int backlogLength() const;

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void connectionLeft();
    void makeRoom();

    ConnectionPool m_pool;
    QTimer* m_roomCheck;
    QSslConfiguration m_tls;
    bool m_useTls = false;
    bool m_full = false;
};

} // namespace kavio::service
