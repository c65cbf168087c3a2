#include "ServiceLog.h"

#include "ControlCharacters.h"
#include "UnitDirectory.h"

#include <QDateTime>
#include <cstdio>

namespace kavio::service {

void logLine(const QString& line) {
    const QByteArray text = (QDateTime::currentDateTime().toString(Qt::ISODateWithMs) +
                             QLatin1Char(' ') + escapeControlCharacters(line) + QLatin1Char('\n'))
                                .toUtf8();
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    std::fflush(stderr);
}

} // namespace kavio::service
