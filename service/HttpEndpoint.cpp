#include "HttpEndpoint.h"

#include "BearerToken.h"
#include "GuardedServer.h"
#include "HttpGuard.h"
#include "HttpReplies.h"
#include "ServiceLog.h"
#include "ServiceOptions.h"
#include "TlsFiles.h"

#include <QHttpServerRequest>

namespace kavio::service {

bool HttpEndpoint::listen(const ServiceOptions& options, QObject* owner, QString& problem) {
    if (!options.tokenFile.isEmpty()) {
        if (!BearerToken::read(options.tokenFile, m_token, problem))
            return false;
    } else if (!options.httpAddress.isLoopback()) {
        problem = QStringLiteral("HTTP on %1, which is not loopback, needs --http-token-file")
                      .arg(options.http);
        return false;
    }

    auto* server = new GuardedServer(owner);
    if (!options.tlsCert.isEmpty()) {
        QSslConfiguration configuration;
        QStringList warnings;
        if (!TlsFiles::load(options.tlsCert, options.tlsKey, configuration, problem, warnings)) {
            delete server;
            return false;
        }
        for (const QString& warning : std::as_const(warnings))
            logLine(warning);
        server->setTls(configuration);
    }
    if (!server->listen(options.httpAddress, options.httpPort)) {
        problem =
            QStringLiteral("HTTP cannot listen on %1: %2").arg(options.http, server->errorString());
        delete server;
        return false;
    }
    m_server = server;
    m_origin = RequestOrigin(options.httpAddress, m_server->serverPort(),
                             !options.tlsCert.isEmpty(), options.httpHosts);
    logLine(QStringLiteral("HTTP%1 on %2:%3")
                .arg(options.tlsCert.isEmpty() ? QString() : QStringLiteral("S"),
                     options.httpAddress.toString())
                .arg(m_server->serverPort()));
    return true;
}

quint16 HttpEndpoint::port() const {
    return m_server ? m_server->serverPort() : 0;
}

void HttpEndpoint::close() {
    if (m_server)
        m_server->close();
}

bool HttpEndpoint::turnedAway(const QHttpServerRequest& request, QTcpSocket* socket) const {
    const QString peer = request.remoteAddress().toString();
    const QByteArray host = request.value("Host");
    const ConnectionGuard* guard = ConnectionGuard::of(socket);
    // Every browser sends a Host; only a plain HTTP/1.0 client may leave it out.
    if (!host.isEmpty() || !guard || !guard->current().http10) {
        if (const QString why = m_origin.wrongHost(host); !why.isEmpty()) {
            logLine(QStringLiteral("HTTP 421 to %1: %2").arg(peer, why));
            writeResponse(socket, 421, TextType, "This service does not answer for that Host\n", {},
                          true);
            return true;
        }
    }
    if (const QString why =
            m_origin.otherSite(request.value("Sec-Fetch-Site"), request.value("Origin"), host);
        !why.isEmpty()) {
        logLine(QStringLiteral("HTTP 403 to %1: a request from another site (%2)").arg(peer, why));
        writeResponse(socket, 403, TextType, "Requests from other sites are refused\n");
        return true;
    }
    return false;
}

Accesses HttpEndpoint::granted(const QHttpServerRequest& request) const {
    if (m_token.isEmpty() || BearerToken::matches(request.value("Authorization"), m_token))
        return Accesses(Access::Read) | Access::Switch;
    return {};
}

} // namespace kavio::service
