#include "UnitCsv.h"

#include <QBuffer>

namespace kavio::ctl::csv {
namespace {

constexpr char Quote = '"';
constexpr char Comma = ',';
constexpr char Cr = '\r';
constexpr char Lf = '\n';

// The device is read this much at a time.
constexpr qint64 ChunkBytes = 1 << 20;

bool isAscii(const QByteArray& bytes) {
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

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

Reader::Reader(QIODevice& device, qint64 byteLimit, qsizetype keptFields)
    : m_device(device)
    , m_byteLimit(byteLimit)
    , m_keptFields(keptFields) {
    if (available(3) && m_buffer.startsWith("\xEF\xBB\xBF"))
        m_pos = 3;
}

// Whether `count` bytes lie ahead, reading more of the device when they are not there yet. Only
// the bytes not taken yet are kept.
bool Reader::available(qsizetype count) {
    while (m_buffer.size() - m_pos < count && !m_atEnd) {
        m_consumed += m_pos;
        m_buffer.remove(0, m_pos);
        m_pos = 0;
        const qsizetype kept = m_buffer.size();
        m_buffer.resize(kept + ChunkBytes);
        const qint64 got = m_device.read(m_buffer.data() + kept, ChunkBytes);
        m_buffer.resize(kept + qMax<qint64>(got, 0));
        if (got <= 0) {
            m_atEnd = true;
            m_failed = got < 0;
        } else if (m_consumed + m_buffer.size() > m_byteLimit) {
            m_atEnd = true;
            m_beyond = true;
        }
    }
    return m_buffer.size() - m_pos >= count;
}

char Reader::peek(qsizetype ahead) {
    return available(ahead + 1) ? m_buffer[m_pos + ahead] : '\0';
}

// A line end (CRLF or LF) at the position is passed over.
bool Reader::skipLineEnd() {
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

bool Reader::next(Record& record, QList<Fault>& faults) {
    while (!m_fault && available(1) && !m_beyond) {
        if (skipLineEnd())
            continue; // an empty line
        const bool good = readRecord(record, faults);
        if (m_fault) {
            faults << *m_fault;
            break;
        }
        if (m_beyond || m_failed)
            break;
        if (good)
            return true;
    }
    return false;
}

bool Reader::readRecord(Record& record, QList<Fault>& faults) {
    const int line = m_line;
    record.line = line;
    record.fields.clear();
    record.count = 0;
    bool good = true;
    for (;;) {
        const int field = int(record.count);
        const auto stop = [&](const QString& message) {
            m_fault = Fault{line, field, message};
            return false;
        };
        m_field.resize(0);
        if (peek() == Quote) {
            ++m_pos;
            if (!readQuoted())
                return stop(QStringLiteral(
                    "a quoted field is not closed: its closing double quote is missing"));
            const char after = peek();
            if (available(1) && after != Comma && after != Cr && after != Lf)
                return stop(QStringLiteral("text after the closing double quote of a field (a "
                                           "quote inside a quoted field is written twice)"));
        } else {
            readPlain();
            if (peek() == Quote)
                return stop(QStringLiteral(
                    "a double quote inside a field that does not start with one (a quoted field "
                    "must start with the quote, and a quote inside it is written twice)"));
        }
        takeField(record, line, faults, good);
        if (peek() == Comma) {
            ++m_pos;
            continue;
        }
        if (!available(1) || skipLineEnd())
            return good;
        // Only a lone CR can be left here: plain and quoted fields stop at nothing else.
        return stop(QStringLiteral("a carriage return without a line feed outside quotes"));
    }
}

// Up to the next comma, line end or quote.
void Reader::readPlain() {
    while (available(1)) {
        const char* const data = m_buffer.constData();
        const qsizetype end = m_buffer.size();
        qsizetype at = m_pos;
        while (at < end) {
            const char c = data[at];
            if (c == Comma || c == Cr || c == Lf || c == Quote)
                break;
            ++at;
        }
        m_field.append(data + m_pos, at - m_pos);
        m_pos = at;
        if (at < end)
            return;
    }
}

// After the opening quote: up to and past the closing one; false when the text ends first.
bool Reader::readQuoted() {
    while (available(1)) {
        const qsizetype quote = m_buffer.indexOf(Quote, m_pos);
        const qsizetype end = quote < 0 ? m_buffer.size() : quote;
        const QByteArrayView part(m_buffer.constData() + m_pos, end - m_pos);
        m_line += int(part.count(Lf));
        m_field += part;
        m_pos = end;
        if (quote < 0)
            continue;
        if (peek(1) == Quote) {
            m_field += Quote;
            m_pos += 2;
            continue;
        }
        ++m_pos; // the closing quote
        return true;
    }
    return false;
}

void Reader::takeField(Record& record, int line, QList<Fault>& faults, bool& good) {
    if (record.count < m_keptFields) {
        QString value;
        if (isAscii(m_field)) {
            value = QString::fromLatin1(m_field);
        } else {
            m_decoder.resetState();
            value = m_decoder.decode(m_field);
            if (m_decoder.hasError()) {
                faults << Fault{line, int(record.count), QStringLiteral("the text is not UTF-8")};
                good = false;
            }
        }
        record.fields << value;
    }
    ++record.count;
}

Document read(const QByteArray& text) {
    QBuffer buffer;
    buffer.setData(text);
    buffer.open(QIODevice::ReadOnly);
    Reader reader(buffer);
    Document document;
    Record record;
    while (reader.next(record, document.faults))
        document.records << record;
    return document;
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
