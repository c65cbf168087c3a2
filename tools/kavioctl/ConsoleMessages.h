#pragma once

#include "Notices.h"

#include <QTextStream>

namespace kavio::ctl {

// The notices of the store and the exchange, which the control center shows in boxes, go to
// standard error here as one line each ("kavioctl: caption: text", without a caption that is
// the program's own name).
class ConsoleMessageSink : public NoticeSink {
public:
    explicit ConsoleMessageSink(QTextStream& err);
    ~ConsoleMessageSink() override;
    ConsoleMessageSink(const ConsoleMessageSink&) = delete;
    ConsoleMessageSink& operator=(const ConsoleMessageSink&) = delete;

    void notify(QObject* parent, const Notice& notice) override;

private:
    QTextStream& m_err;
};

} // namespace kavio::ctl
