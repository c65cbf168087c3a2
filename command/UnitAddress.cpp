#include "UnitAddress.h"

#include <QRegularExpression>

namespace kavio {

std::optional<QHostAddress> DottedIPv4(const QString& text) {
    static const QRegularExpression dotted(QRegularExpression::anchoredPattern(QStringLiteral(
        R"((25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])(\.(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])){3})")));
    if (!dotted.match(text).hasMatch())
        return std::nullopt;
    return QHostAddress(text);
}

} // namespace kavio
