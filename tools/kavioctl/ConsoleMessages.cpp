#include "ConsoleMessages.h"

#include "ControlCharacters.h"
#include "UnitDirectory.h"

#include <QCoreApplication>

namespace kavio::ctl {

ConsoleMessageSink::ConsoleMessageSink(QTextStream& err)
    : m_err(err) {
    Notices::setSink(this);
}

ConsoleMessageSink::~ConsoleMessageSink() {
    Notices::setSink(nullptr);
}

void ConsoleMessageSink::notify(QObject*, const Notice& message) {
    QString text = message.text;
    text.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    // Most boxes are captioned with the program's own name, which the line starts with anyway.
    m_err << "kavioctl: ";
    if (message.caption != QCoreApplication::applicationName())
        m_err << message.caption << ": ";
    // Names and file names in the text show their control characters escaped.
    m_err << escapeControlCharacters(text.simplified()) << '\n';
    m_err.flush();
}

} // namespace kavio::ctl
