#pragma once

#include <QString>
#include <exception>

namespace kavio {

// The one error base class of the system: every failure travels as an Exception carrying the
// text that the operator will read. An Exception escaping an event handler is shown by the
// application's default error report (see reportException).
class Exception : public std::exception {
public:
    explicit Exception(QString message);

    const QString& message() const { return m_message; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// A failure of the table store: a file that cannot be opened or written, a table with the wrong
// columns, an unknown filter expression, a key out of range.
class DatabaseError : public Exception {
public:
    using Exception::Exception;
};

// The text the default error report shows: the message, with a full stop appended when its last
// character sorts after the full stop (so "...done" gets one, "...done." or "(x)" does not).
QString reportText(const QString& message);

// Shows the default error report for an exception that escaped an event handler: an error box
// captioned with the application's title. Goes through the notices (Notices.h), so it does not
// wait for the box to be closed: polling and timers go on beneath it. A program without windows
// writes the report where its notices go.
void reportException(const std::exception& error);

} // namespace kavio
