#include "QueryItems.h"

#include <QStringDecoder>

namespace kavio::service {

std::optional<QString> decodeQueryPart(const QByteArray& encoded) {
    QByteArray spaced = encoded;
    spaced.replace('+', ' ');
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(QByteArray::fromPercentEncoding(spaced));
    if (utf8.hasError())
        return std::nullopt;
    return text;
}

bool QueryItems::parse(const QByteArray& encodedQuery, const QStringList& known, QString& problem) {
    m_items.clear();
    for (const QByteArray& item : encodedQuery.split('&')) {
        if (item.isEmpty())
            continue;
        const qsizetype equals = item.indexOf('=');
        const std::optional<QString> name = decodeQueryPart(equals < 0 ? item : item.left(equals));
        const std::optional<QString> value =
            decodeQueryPart(equals < 0 ? QByteArray() : item.mid(equals + 1));
        if (!name || !value) {
            problem = QStringLiteral("a parameter is not percent-encoded UTF-8");
            return false;
        }
        if (!known.isEmpty() && !known.contains(*name)) {
            problem = QStringLiteral("unknown parameter '%1': give %2")
                          .arg(*name, known.join(QStringLiteral(", ")));
            return false;
        }
        if (has(*name)) {
            problem = QStringLiteral("'%1' is given twice").arg(*name);
            return false;
        }
        m_items.append({*name, *value});
    }
    return true;
}

bool QueryItems::has(const QString& name) const {
    for (const auto& item : m_items) {
        if (item.first == name)
            return true;
    }
    return false;
}

QString QueryItems::value(const QString& name) const {
    for (const auto& item : m_items) {
        if (item.first == name)
            return item.second.isNull() ? QStringLiteral("") : item.second;
    }
    return {};
}

} // namespace kavio::service
