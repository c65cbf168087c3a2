#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace kavio::ctl::csv {

// Comma-separated values as RFC 4180 has them, in UTF-8.
//
// Reading: records end with CRLF or LF; a field is quoted when it starts with a double quote, and
// then holds anything up to the closing quote, with "" standing for one quote (commas, CR and LF
// included). A UTF-8 byte order mark at the very start is skipped, and so are empty lines.
// Writing: records end with CRLF; a field is quoted when it holds a comma, a quote, CR or LF, or
// begins or ends with a blank or a tab (which spreadsheets would otherwise drop).

struct Record {
    int line = 0; // the physical line where the record starts, 1-based
    QStringList fields;
};

// A fault of the text itself, at a physical line; `field` is the 0-based position of the field
// in its record, or -1 when the fault is not one field's.
struct Fault {
    int line = 0;
    int field = -1;
    QString message;
};

struct Document {
    QList<Record> records;
    // Faults of single fields (text that is not UTF-8) leave their record out and reading goes
    // on; a fault of the quoting ends the reading, as the rest cannot be told apart reliably.
    QList<Fault> faults;
};

Document read(const QByteArray& text);

// One field as written: quoted when it has to be.
QString field(const QString& value);
// One record: the fields joined by commas, ended by CRLF.
QString record(const QStringList& values);

} // namespace kavio::ctl::csv
