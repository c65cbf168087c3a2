#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <optional>

namespace kavio::service {

// The parameters of a URL's query, decoded as HTML forms and Python's urlencode write them:
// `+` is a space, %XX a byte, and the bytes UTF-8. Each name may be given once.
class QueryItems {
public:
    // Reads the query as it came (still percent-encoded). On a fault gives false with a one-line
    // reason: bytes that are not UTF-8, a name given twice, or a name not among `known` (when
    // `known` is not empty).
    bool parse(const QByteArray& encodedQuery, const QStringList& known, QString& problem);

    bool has(const QString& name) const;
    // The value given for `name`; a null string when it was not given.
    QString value(const QString& name) const;
    const QList<QPair<QString, QString>>& items() const { return m_items; }

private:
    QList<QPair<QString, QString>> m_items;
};

// One part of a query decoded: `+` as a space, then percent-decoding; nothing when the bytes are
// not UTF-8.
std::optional<QString> decodeQueryPart(const QByteArray& encoded);

} // namespace kavio::service
