#include "ControlCharacters.h"

#include <algorithm>

namespace kavio {

QString escapeControlCharacters(const QString& text) {
    const auto control = [](QChar c) {
        const char16_t code = c.unicode();
        return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x2028 || code == 0x2029;
    };
    if (std::none_of(text.cbegin(), text.cend(), control))
        return text;
    QString line;
    line.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code == u'\n') {
            line += QStringLiteral("\\n");
        } else if (code == u'\r') {
            line += QStringLiteral("\\r");
        } else if (code == u'\t') {
            line += QStringLiteral("\\t");
        } else if (code < 0x20 || (code >= 0x7F && code <= 0x9F)) {
            line += QStringLiteral("\\x%1").arg(int(code), 2, 16, QLatin1Char('0'));
        } else if (code == 0x2028 || code == 0x2029) {
            line += QStringLiteral("\\u%1").arg(int(code), 4, 16, QLatin1Char('0'));
        } else {
            line += c;
        }
    }
    return line;
}

QString blankControlCharacters(QString text) {
    for (QChar& c : text) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    }
    return text;
}

} // namespace kavio
