#include "StatusWords.h"

#include "Codes.h"

namespace kavio {

QString statusWord(qint64 status) {
    switch (status) {
    case StatusOn:
        return QStringLiteral("ON");
    case StatusOff:
        return QStringLiteral("OFF");
    case StatusCycle:
        return QStringLiteral("CYCLE");
    case StatusError:
        return QStringLiteral("FAILED");
    case StatusBusy:
        return QStringLiteral("BUSY");
    default:
        return QStringLiteral("UNKNOWN");
    }
}

} // namespace kavio
