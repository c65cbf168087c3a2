#pragma once

#include "Messages.h"

#include <QTextStream>

namespace kavio::ctl {

// Messages of the store and the exchange, which the control center shows in boxes, go to
// standard error here as one line each ("kavioctl: caption: text", without a caption that is
// the program's own name); questions are answered No,
// and beeps are silent.
class ConsoleMessageSink : public MessageSink {
public:
    explicit ConsoleMessageSink(QTextStream& err);
    ~ConsoleMessageSink() override;
    ConsoleMessageSink(const ConsoleMessageSink&) = delete;
    ConsoleMessageSink& operator=(const ConsoleMessageSink&) = delete;

    QMessageBox::StandardButton show(QWidget* parent, const ShownMessage& message) override;
    void beep(Beep) override {}

private:
    QTextStream& m_err;
};

} // namespace kavio::ctl
