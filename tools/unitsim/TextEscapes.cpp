#include "TextEscapes.h"

namespace kavio::sim {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

std::optional<QByteArray> unescapeText(const QString& text) {
    const QByteArray in = text.toUtf8();
    QByteArray out;
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] != '\\') {
            out.append(in[i]);
            continue;
        }
        if (++i >= in.size()) {
            return std::nullopt;
        }
        switch (in[i]) {
        case 'r':
            out.append('\r');
            break;
        case 'n':
            out.append('\n');
            break;
        case 't':
            out.append('\t');
            break;
        case 'e':
            out.append('\x1b');
            break;
        case '0':
            out.append('\0');
            break;
        case '\\':
            out.append('\\');
            break;
        case 'x': {
            if (i + 2 >= in.size()) {
                return std::nullopt;
            }
            const int high = hexValue(in[i + 1]);
            const int low = hexValue(in[i + 2]);
            if (high < 0 || low < 0) {
                return std::nullopt;
            }
            out.append(char(high * 16 + low));
            i += 2;
            break;
        }
        default:
            return std::nullopt;
        }
    }
    return out;
}

QString escapeBytes(const QByteArray& bytes) {
    QString out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            out += QStringLiteral("\\\\");
        } else if (c == '\r') {
            out += QStringLiteral("\\r");
        } else if (c == '\n') {
            out += QStringLiteral("\\n");
        } else if (byte >= 0x20 && byte < 0x7f) {
            out += QChar(byte);
        } else {
            out += QStringLiteral("\\x%1").arg(byte, 2, 16, QChar('0'));
        }
    }
    return out;
}

} // namespace kavio::sim
