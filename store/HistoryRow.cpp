#include "HistoryRow.h"

#include <QStringList>

namespace kavio {
namespace {

void appendHex(QString& out, uint code) {
    out += QStringLiteral("\\x%1").arg(code, 2, 16, QLatin1Char('0'));
}

} // namespace

const QStringList& HistoryOutcomes() {
    static const QStringList all = {
        QStringLiteral("answered"),     QStringLiteral("unknown reply"),
        QStringLiteral("refused"),      QStringLiteral("timed out"),
        QStringLiteral("write failed"), QStringLiteral("not stored"),
        QStringLiteral("still CYCLE"),
    };
    return all;
}

QString EscapedReply(const QByteArray& reply) {
    QString out;
    for (const char c : reply) {
        const auto byte = uchar(c);
        if (byte == '\\')
            out += QStringLiteral("\\\\");
        else if (byte >= 0x20 && byte < 0x7f)
            out += QLatin1Char(c);
        else
            appendHex(out, byte);
    }
    return out;
}

QString PlainText(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || (c.category() == QChar::Other_Control))
            appendHex(out, c.unicode());
        else
            out += c;
    }
    return out;
}

} // namespace kavio
