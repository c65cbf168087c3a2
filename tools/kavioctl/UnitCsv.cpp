#include "UnitCsv.h"

#include <QStringDecoder>

namespace kavio::ctl::csv {
namespace {

constexpr char Quote = '"';
constexpr char Comma = ',';
constexpr char Cr = '\r';
constexpr char Lf = '\n';

bool isAscii(const QByteArray& bytes) {
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

// Reads one record after another; a fault of the quoting stops it.
class Reader {
public:
    explicit Reader(const QByteArray& text)
        : m_text(text) {
        if (m_text.startsWith("\xEF\xBB\xBF"))
            m_pos = 3;
    }

    Document readAll() {
        Document document;
        while (m_pos < m_text.size() && !m_stopped) {
            if (skipLineEnd())
                continue; // an empty line
            const int line = m_line;
            QList<QByteArray> raw = readRecord();
            if (m_stopped) {
                document.faults << m_fault;
                break;
            }
            Record record{line, {}};
            bool good = true;
            for (int field = 0; field < raw.size(); ++field) {
                QString value;
                if (!decode(raw[field], value)) {
                    document.faults << Fault{line, field, QStringLiteral("the text is not UTF-8")};
                    good = false;
                }
                record.fields << value;
            }
            if (good)
                document.records << record;
        }
        return document;
    }

private:
    bool atEnd() const { return m_pos >= m_text.size(); }
    char peek(qsizetype ahead = 0) const {
        return m_pos + ahead < m_text.size() ? m_text[m_pos + ahead] : '\0';
    }

    // A line end (CRLF or LF) at the position is passed over.
    bool skipLineEnd() {
        if (peek() == Lf) {
            ++m_pos;
        } else if (peek() == Cr && peek(1) == Lf) {
            m_pos += 2;
        } else {
            return false;
        }
        ++m_line;
        return true;
    }

    void stop(int line, int field, const QString& message) {
        m_stopped = true;
        m_fault = Fault{line, field, message};
    }

    QList<QByteArray> readRecord() {
        const int line = m_line;
        QList<QByteArray> fields;
        for (;;) {
            const int field = int(fields.size());
            fields << (peek() == Quote && !atEnd() ? readQuoted(line, field)
                                                   : readPlain(line, field));
            if (m_stopped)
                return fields;
            if (peek() == Comma && !atEnd()) {
                ++m_pos;
                continue;
            }
            if (atEnd() || skipLineEnd())
                return fields;
            // Only a lone CR can be left here: plain and quoted fields stop at nothing else.
            stop(line, field,
                 QStringLiteral("a carriage return without a line feed outside quotes"));
            return fields;
        }
    }

    QByteArray readPlain(int line, int field) {
        const qsizetype start = m_pos;
        while (!atEnd()) {
            const char c = peek();
            if (c == Comma || c == Cr || c == Lf)
                break;
            if (c == Quote) {
                stop(line, field,
                     QStringLiteral("a double quote inside a field that does not start with one "
                                    "(a quoted field must start with the quote, and a quote "
                                    "inside it is written twice)"));
                break;
            }
            ++m_pos;
        }
        return m_text.mid(start, m_pos - start);
    }

    QByteArray readQuoted(int line, int field) {
        ++m_pos; // the opening quote
        QByteArray value;
        for (;;) {
            const qsizetype quote = m_text.indexOf(Quote, m_pos);
            const qsizetype end = quote < 0 ? m_text.size() : quote;
            const QByteArrayView part(m_text.constData() + m_pos, end - m_pos);
            m_line += int(part.count(Lf));
            value += part;
            m_pos = end;
            if (quote < 0) {
                stop(line, field,
                     QStringLiteral("a quoted field is not closed: its closing double quote is "
                                    "missing"));
                return value;
            }
            if (peek(1) == Quote) {
                value += Quote;
                m_pos += 2;
                continue;
            }
            ++m_pos; // the closing quote
            const char next = peek();
            if (!atEnd() && next != Comma && next != Cr && next != Lf)
                stop(line, field,
                     QStringLiteral("text after the closing double quote of a field (a quote "
                                    "inside a quoted field is written twice)"));
            return value;
        }
    }

    bool decode(const QByteArray& bytes, QString& value) {
        if (isAscii(bytes)) {
            value = QString::fromLatin1(bytes);
            return true;
        }
        m_decoder.resetState();
        value = m_decoder.decode(bytes);
        return !m_decoder.hasError();
    }

    const QByteArray& m_text;
    qsizetype m_pos = 0;
    int m_line = 1;
    bool m_stopped = false;
    Fault m_fault;
    QStringDecoder m_decoder{QStringDecoder::Utf8, QStringDecoder::Flag::Stateless};
};

bool needsQuotes(const QString& value) {
    if (value.isEmpty())
        return false;
    for (const QChar c : value) {
        if (c == QLatin1Char(Comma) || c == QLatin1Char(Quote) || c == QLatin1Char(Cr) ||
            c == QLatin1Char(Lf))
            return true;
    }
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    return blank(value.front()) || blank(value.back());
}

} // namespace

Document read(const QByteArray& text) {
    return Reader(text).readAll();
}

QString field(const QString& value) {
    if (!needsQuotes(value))
        return value;
    QString quoted = value;
    quoted.replace(QLatin1Char(Quote), QStringLiteral("\"\""));
    return QLatin1Char(Quote) + quoted + QLatin1Char(Quote);
}

QString record(const QStringList& values) {
    QString line;
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i > 0)
            line += QLatin1Char(Comma);
        line += field(values[i]);
    }
    return line + QStringLiteral("\r\n");
}

} // namespace kavio::ctl::csv
