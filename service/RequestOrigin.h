#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QStringList>

namespace kavio::service {

// Who may talk to the HTTP interface. A request is answered only when its Host names the
// service: the listen address, "localhost" when that is loopback, or one of the names the
// operator gave. A browser marks what a page of another site sends (Sec-Fetch-Site, Origin);
// such a request is refused whatever it asks, so that no web page the operator opens can switch
// a unit or read the fleet, and no DNS name rebound to this address can either.
class RequestOrigin {
public:
    RequestOrigin() = default;
    RequestOrigin(const QHostAddress& listen, quint16 port, bool tls, const QStringList& names);

    // Why the Host header does not name this service; empty when it does.
    QString wrongHost(const QByteArray& host) const;
    // Why a browser says the request comes from another site; empty when it does not.
    QString otherSite(const QByteArray& fetchSite, const QByteArray& origin,
                      const QByteArray& host) const;

    // "name" or "[v6]" with an optional ":port": the lower-case name and the port (-1: none).
    static bool splitHost(const QByteArray& host, QString& name, int& port);

private:
    bool knownName(const QString& name) const;

    QHostAddress m_listen;
    quint16 m_port = 0;
    bool m_tls = false;
    QStringList m_names;
};

} // namespace kavio::service
