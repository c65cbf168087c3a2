#include "ConsoleMessages.h"

namespace kavio::ctl {

ConsoleMessageSink::ConsoleMessageSink(QTextStream& err)
    : m_err(err) {
    Messages::setSink(this);
}

ConsoleMessageSink::~ConsoleMessageSink() {
    Messages::setSink(nullptr);
}

QMessageBox::StandardButton ConsoleMessageSink::show(QWidget*, const ShownMessage& message) {
    QString text = message.text;
    text.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    m_err << "kavioctl: " << message.caption << ": " << text.simplified() << '\n';
    m_err.flush();
    return message.buttons.testFlag(QMessageBox::No) ? QMessageBox::No : QMessageBox::Ok;
}

} // namespace kavio::ctl
