#include "Exception.h"

#include "Notices.h"

#include <QCoreApplication>

namespace kavio {

Exception::Exception(QString message)
    : m_message(std::move(message))
    , m_utf8(m_message.toUtf8()) {}

QString reportText(const QString& message) {
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

void reportException(const std::exception& error) {
    const auto* own = dynamic_cast<const Exception*>(&error);
    const QString text = own ? own->message() : QString::fromLocal8Bit(error.what());
    Notices::notify(MessageKind::Error, QCoreApplication::applicationName(), reportText(text));
}

} // namespace kavio
