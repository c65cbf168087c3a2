#include "ConsoleMessages.h"

#include "StoreRecords.h"

#include <QCoreApplication>

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
    // Most boxes are captioned with the program's own name, which the line starts with anyway.
    m_err << "kavioctl: ";
    if (message.caption != QCoreApplication::applicationName())
        m_err << message.caption << ": ";
    // Names and file names in the text show their control characters escaped.
    m_err << oneLine(text.simplified()) << '\n';
    m_err.flush();
    return message.buttons.testFlag(QMessageBox::No) ? QMessageBox::No : QMessageBox::Ok;
}

} // namespace kavio::ctl
