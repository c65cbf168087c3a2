#include "HttpRoutes.h"

#include "HttpGuard.h"
#include "HttpReplies.h"
#include "ServiceLog.h"

#include <QUrl>

namespace kavio::service {
namespace {

bool isPart(const QString& segment) {
    return segment.size() > 2 && segment.startsWith(QLatin1Char('{')) &&
           segment.endsWith(QLatin1Char('}'));
}

// The named parts when the path fits the pattern; nothing when it does not.
std::optional<QHash<QString, QString>> fit(const QStringList& pattern, const QStringList& path) {
    if (pattern.size() != path.size())
        return std::nullopt;
    QHash<QString, QString> parts;
    for (qsizetype at = 0; at < pattern.size(); ++at) {
        if (isPart(pattern[at]))
            parts.insert(pattern[at].mid(1, pattern[at].size() - 2), path[at]);
        else if (pattern[at] != path[at])
            return std::nullopt;
    }
    return parts;
}

} // namespace

void RouteTable::add(Methods methods, const QString& pattern, Access access, RouteHandler handler) {
    m_routes.push_back(Route{methods, pattern, access, std::move(handler),
                             pattern.split(QLatin1Char('/'), Qt::SkipEmptyParts)});
}

RouteDecision RouteTable::decide(Method method, const QStringList& segments,
                                 Accesses granted) const {
    RouteDecision decision;
    // Without credentials nothing is told, not even whether the path exists.
    if (!granted) {
        decision.status = 401;
        return decision;
    }
    const Route* owner = nullptr;
    Methods allowed;
    for (const Route& route : m_routes) {
        if (owner && route.pattern != owner->pattern)
            continue;
        std::optional<QHash<QString, QString>> parts = fit(route.segments, segments);
        if (!parts)
            continue;
        owner = &route;
        allowed |= route.methods;
        if (route.methods.testFlag(method)) {
            decision.route = &route;
            decision.parts = std::move(*parts);
            break;
        }
    }
    if (!owner) {
        decision.status = 404;
    } else if (!decision.route) {
        decision.status = 405;
        decision.allow = allowHeader(allowed);
    } else if (!granted.testFlag(decision.route->access)) {
        decision.status = 403;
    }
    return decision;
}

void RouteTable::dispatch(const QHttpServerRequest& request, QTcpSocket* socket,
                          Accesses granted) const {
    const RouteDecision decision = decide(request.method(), pathSegments(request.url()), granted);
    switch (decision.status) {
    case 0:
        decision.route->handler(RouteCall{request, socket, decision.parts});
        return;
    case 401:
        logLine(QStringLiteral("HTTP 401 to %1: no valid token")
                    .arg(request.remoteAddress().toString()));
        // The connection ends too: a client without the token holds no place a token holder
        // could use.
        writeResponse(socket, 401, TextType, "Unauthorized\n",
                      {{"WWW-Authenticate", "Bearer realm=\"kaviod\""}}, true);
        return;
    case 403:
        logLine(QStringLiteral("HTTP 403 to %1: %2 %3 is not allowed with its token")
                    .arg(request.remoteAddress().toString(),
                         QString::fromLatin1(allowHeader(request.method())),
                         decision.route->pattern));
        writeJsonError(socket, 403, QStringLiteral("this token does not allow that"));
        return;
    case 405:
        writeResponse(socket, 405, TextType, "Method not allowed\n", {{"Allow", decision.allow}});
        return;
    default:
        writeJsonError(socket, 404, QStringLiteral("no such resource"));
        return;
    }
}

QStringList pathSegments(const QUrl& url) {
    QStringList segments;
    const QByteArray path = url.path(QUrl::FullyEncoded).toUtf8();
    for (const QByteArray& part : path.split('/')) {
        if (!part.isEmpty())
            segments << QString::fromUtf8(QByteArray::fromPercentEncoding(part));
    }
    return segments;
}

QByteArray allowHeader(Methods methods) {
    static const std::pair<Method, const char*> names[] = {
        {Method::Get, "GET"},         {Method::Head, "HEAD"},       {Method::Post, "POST"},
        {Method::Put, "PUT"},         {Method::Delete, "DELETE"},   {Method::Patch, "PATCH"},
        {Method::Options, "OPTIONS"}, {Method::Connect, "CONNECT"}, {Method::Trace, "TRACE"},
    };
    QList<QByteArray> words;
    for (const auto& [method, name] : names) {
        if (methods.testFlag(method))
            words << name;
    }
    return words.join(", ");
}

} // namespace kavio::service
