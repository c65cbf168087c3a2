#pragma once

#include "Messages.h"

#include <QString>

namespace kavio::service {

// One line on standard error, led by the local time to the millisecond, so that the journal (or
// whoever reads the service's output) keeps the exchange's log. Control characters in `line`
// are written escaped: a line is always one line.
void logLine(const QString& line);

// While it lives, the messages that the control center shows in boxes (a warning of the store,
// a report of the exchange) are log lines; questions are answered No. No box ever waits for an
// operator the service does not have.
class LoggedMessages : public MessageSink {
public:
    LoggedMessages() { Messages::setSink(this); }
    ~LoggedMessages() override { Messages::setSink(nullptr); }
    LoggedMessages(const LoggedMessages&) = delete;
    LoggedMessages& operator=(const LoggedMessages&) = delete;

    QMessageBox::StandardButton show(QWidget*, const ShownMessage& message) override {
        for (const QString& line : message.text.split(QLatin1Char('\n')))
            logLine(line);
        return QMessageBox::No;
    }
    void beep(Beep) override {}
};

} // namespace kavio::service
