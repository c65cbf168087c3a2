#include "RequestOrigin.h"

#include <QRegularExpression>
#include <QUrl>

namespace kavio::service {

RequestOrigin::RequestOrigin(const QHostAddress& listen, quint16 port, bool tls,
                             const QStringList& names)
    : m_listen(listen)
    , m_port(port)
    , m_tls(tls) {
    for (const QString& name : names)
        m_names << name.toLower();
}

bool RequestOrigin::splitHost(const QByteArray& host, QString& name, int& port) {
    static const QRegularExpression form(
        QStringLiteral("^(\\[[0-9A-Fa-f:.]+\\]|[A-Za-z0-9._-]+)(?::([0-9]{1,5}))?$"));
    const QRegularExpressionMatch match = form.match(QString::fromLatin1(host));
    if (!match.hasMatch())
        return false;
    name = match.captured(1).toLower();
    port = match.captured(2).isEmpty() ? -1 : match.captured(2).toInt();
    return port <= 65535;
}

bool RequestOrigin::knownName(const QString& name) const {
    if (m_names.contains(name))
        return true;
    if (name == QLatin1String("localhost"))
        return m_listen.isLoopback();
    QString literal = name;
    if (literal.startsWith(QLatin1Char('['))) {
        if (m_listen.protocol() != QAbstractSocket::IPv6Protocol)
            return false;
        literal = literal.mid(1, literal.size() - 2);
    } else if (m_listen.protocol() != QAbstractSocket::IPv4Protocol) {
        return false;
    }
    // Only the address written as it is usually written: "127.0.0.1", not "2130706433".
    const QHostAddress address(literal);
    return !address.isNull() && address.isEqual(m_listen, QHostAddress::StrictConversion) &&
           (m_listen.protocol() == QAbstractSocket::IPv6Protocol || literal == m_listen.toString());
}

QString RequestOrigin::wrongHost(const QByteArray& host) const {
    QString name;
    int port = -1;
    if (host.isEmpty())
        return QStringLiteral("no Host");
    if (!splitHost(host, name, port) || !knownName(name))
        return QStringLiteral("Host %1 is not this service")
            .arg(QString::fromLatin1(host.left(100)));
    const int usual = m_tls ? 443 : 80;
    if (port == -1 ? m_port != usual : port != m_port)
        return QStringLiteral("Host %1 names another port").arg(QString::fromLatin1(host));
    return {};
}

QString RequestOrigin::otherSite(const QByteArray& fetchSite, const QByteArray& origin,
                                 const QByteArray& host) const {
    const QByteArray site = fetchSite.trimmed().toLower();
    if (site == "cross-site" || site == "same-site")
        return QStringLiteral("Sec-Fetch-Site: ") + QString::fromLatin1(site);
    if (origin.isNull())
        return {};
    const QString shown = QStringLiteral("Origin %1").arg(QString::fromLatin1(origin.left(100)));
    const QUrl url(QString::fromLatin1(origin.trimmed()), QUrl::StrictMode);
    const QString scheme = m_tls ? QStringLiteral("https") : QStringLiteral("http");
    QString hostName;
    int hostPort = -1;
    if (!url.isValid() || url.scheme() != scheme || !url.path().isEmpty() ||
        !splitHost(host, hostName, hostPort))
        return shown;
    const int usual = m_tls ? 443 : 80;
    QString originHost = url.host().toLower();
    if (originHost.contains(QLatin1Char(':')))
        originHost = QLatin1Char('[') + originHost + QLatin1Char(']');
    if (originHost != hostName || url.port(usual) != (hostPort == -1 ? usual : hostPort))
        return shown;
    return {};
}

} // namespace kavio::service
