#pragma once

#include "Notices.h"

#include <QString>
#include <QStringList>

namespace kavio::service {

// One line on standard error, led by the local time to the millisecond, so that the journal (or
// whoever reads the service's output) keeps the exchange's log. Control characters in `line`
// are written escaped: a line is always one line.
void logLine(const QString& line);

// While it lives, the notices that the control center shows in boxes (a warning of the store,
// the report of an error) are log lines. No box ever waits for an operator the service does not
// have.
class LoggedMessages : public NoticeSink {
public:
    LoggedMessages() { Notices::setSink(this); }
    ~LoggedMessages() override { Notices::setSink(nullptr); }
    LoggedMessages(const LoggedMessages&) = delete;
    LoggedMessages& operator=(const LoggedMessages&) = delete;

    void notify(QObject*, const Notice& notice) override {
        for (const QString& line : notice.text.split(QLatin1Char('\n')))
            logLine(line);
    }
};

} // namespace kavio::service
