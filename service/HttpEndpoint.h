#pragma once

#include "HttpRoutes.h"
#include "RequestOrigin.h"

#include <QByteArray>
#include <QString>

class QHttpServerRequest;
class QObject;
class QTcpServer;
class QTcpSocket;

namespace kavio::service {

struct ServiceOptions;

// Where the HTTP interface listens and whom it answers: the listening socket (with TLS when a
// certificate is given), the Host and site a request must come from, and the token it must
// carry.
class HttpEndpoint {
public:
    // Listens on the options' address and port (loopback unless a token file is given), with
    // TLS when a certificate is given; the listening socket is a child of `owner`. False with
    // the reason in `problem`; nothing is opened then.
    bool listen(const ServiceOptions& options, QObject* owner, QString& problem);
    QTcpServer* server() const { return m_server; }
    quint16 port() const;
    void close();

    // Answers 421 a request whose Host does not name the service and 403 one a browser sent
    // for a page of another site, and logs it; true when it did.
    bool turnedAway(const QHttpServerRequest& request, QTcpSocket* socket) const;
    // What the request's credentials allow: everything when the service has no token or the
    // request carries it, nothing otherwise.
    Accesses granted(const QHttpServerRequest& request) const;

private:
    QTcpServer* m_server = nullptr;
    RequestOrigin m_origin;
    QByteArray m_token;
};

} // namespace kavio::service
