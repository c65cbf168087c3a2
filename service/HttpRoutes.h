#pragma once

#include <QByteArray>
#include <QFlags>
#include <QHash>
#include <QHttpServerRequest>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class QTcpSocket;
class QUrl;

namespace kavio::service {

// What a route lets its caller do. A caller is granted a set of them by its credentials; the
// routes ask for the least that serves them, so that a caller allowed to read is never allowed
// to switch by accident.
enum class Access : quint8 {
    Read = 0x1,   // listings, metrics, a unit's value
    Switch = 0x2, // anything that queues a command
};
Q_DECLARE_FLAGS(Accesses, Access)
Q_DECLARE_OPERATORS_FOR_FLAGS(Accesses)

using Method = QHttpServerRequest::Method;
using Methods = QHttpServerRequest::Methods;
// GET, and HEAD answered as GET without the body (the connection's guard leaves the body out).
inline constexpr Methods Readable = Methods(Method::Get) | Method::Head;

// A request as its route's handler gets it, with the named parts of its path decoded.
struct RouteCall {
    const QHttpServerRequest& request;
    QTcpSocket* socket;
    QHash<QString, QString> parts;

    QString part(const QString& name) const { return parts.value(name); }
};
using RouteHandler = std::function<void(const RouteCall&)>;

// One row of the table: the methods it takes, its path ("/api/v1/units/{name}": literal
// segments and named parts, each one whole segment), the access it needs and its handler.
struct Route {
    Methods methods;
    QString pattern;
    Access access = Access::Read;
    RouteHandler handler;
    QStringList segments;
};

// What the table makes of a request: its route, or the status the table answers itself.
struct RouteDecision {
    // 0: the route's handler answers; 401, 403, 404 or 405: the table does.
    int status = 0;
    const Route* route = nullptr;
    QHash<QString, QString> parts;
    QByteArray allow; // with 405: the methods the path takes
};

// The HTTP interface's routes. A path belongs to the first row whose pattern matches it, and to
// every row of that same pattern (one pattern may have rows for several methods, each with its
// own access), so a literal segment wins over a named part by coming first. A path no row
// matches is answered 404, a method the path's rows do not take 405 with Allow, a caller
// without credentials 401 whatever it asks (it learns nothing of what exists) and a caller
// whose credentials do not grant the route's access 403.
class RouteTable {
public:
    void add(Methods methods, const QString& pattern, Access access, RouteHandler handler);

    RouteDecision decide(Method method, const QStringList& segments, Accesses granted) const;
    // Answers the request: by its route's handler or with the table's own status.
    void dispatch(const QHttpServerRequest& request, QTcpSocket* socket, Accesses granted) const;

    const std::vector<Route>& routes() const { return m_routes; }

private:
    std::vector<Route> m_routes;
};

// The path's segments, each percent-decoded as UTF-8; empty segments ("//", a final "/") are
// left out.
QStringList pathSegments(const QUrl& url);
// "GET, HEAD, POST, PUT, ...", in that order.
QByteArray allowHeader(Methods methods);

} // namespace kavio::service
