#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringDecoder>
#include <QStringList>
#include <limits>
#include <optional>

class QIODevice;

namespace kavio::ctl::csv {

// Comma-separated values as RFC 4180 has them, in UTF-8.
//
// Reading: records end with CRLF or LF; a field is quoted when it starts with a double quote, and
// then holds anything up to the closing quote, with "" standing for one quote (commas, CR and LF
// included). A UTF-8 byte order mark at the very start is skipped, and so are empty lines; a
// field that begins with U+FEFF anywhere else keeps it.
// Writing: records end with CRLF; a field is quoted when it holds a comma, a quote, CR or LF, or
// begins or ends with a blank or a tab (which spreadsheets would otherwise drop). Every other
// field is written as it is, so that it reads back the same.

struct Record {
    int line = 0; // the physical line where the record starts, 1-based
    // The fields, as many as the reader keeps (see Reader); `count` counts all of them.
    QStringList fields;
    qsizetype count = 0;
};

// A fault of the text itself, at a physical line; `field` is the 0-based position of the field
// in its record, or -1 when the fault is not one field's.
struct Fault {
    int line = 0;
    int field = -1;
    QString message;
};

// Reads one record after another from a device, a piece at a time, so that a large file never
// has to be held whole. Faults of single fields (text that is not UTF-8) leave their record out
// and reading goes on; a fault of the quoting ends the reading, as the rest cannot be told apart
// reliably.
class Reader {
public:
    // Keeps at most `keptFields` fields of a record, and stops after `byteLimit` bytes.
    explicit Reader(QIODevice& device, qint64 byteLimit = std::numeric_limits<qint64>::max(),
                    qsizetype keptFields = std::numeric_limits<qsizetype>::max());

    // The next record whose text is sound; false at the end of the text, after a fault of the
    // quoting, after the byte limit, or when the device fails. Faults met on the way are
    // appended to `faults`.
    bool next(Record& record, QList<Fault>& faults);

    // The text ran beyond the byte limit; reading stopped there.
    bool beyondLimit() const { return m_beyond; }
    // The device failed to give its bytes (its errorString tells why).
    bool readFailed() const { return m_failed; }

private:
    bool available(qsizetype count);
    char peek(qsizetype ahead = 0);
    bool skipLineEnd();
    bool readRecord(Record& record, QList<Fault>& faults);
    void readPlain();
    bool readQuoted();
    void takeField(Record& record, int line, QList<Fault>& faults, bool& good);

    QIODevice& m_device;
    qint64 m_byteLimit;
    qsizetype m_keptFields;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    qint64 m_consumed = 0; // bytes of the device before m_buffer
    bool m_atEnd = false;
    bool m_beyond = false;
    bool m_failed = false;
    int m_line = 1;
    QByteArray m_field;
    std::optional<Fault> m_fault;
    QStringDecoder m_decoder{QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                       QStringDecoder::Flag::ConvertInitialBom};
};

// A whole text at once: its records, and its faults in the order met.
struct Document {
    QList<Record> records;
    QList<Fault> faults;
};

Document read(const QByteArray& text);

// One field as written: quoted when it has to be.
QString field(const QString& value);
// One record: the fields joined by commas, ended by CRLF.
QString record(const QStringList& values);

} // namespace kavio::ctl::csv
