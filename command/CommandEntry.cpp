#include "CommandEntry.h"

#include <algorithm>

#include "Codes.h"

namespace kavio {

std::optional<quint8> taskToSend(quint8 task, qint64 lastStatus) {
    switch (task) {
    case TaskReboot:
        if (lastStatus == StatusOn)
            return TaskCycle;
        if (lastStatus == StatusOff)
            return TaskPowerOn;
        return std::nullopt;
    case TaskPulse:
        if (lastStatus == StatusOn)
            return TaskPowerOff;
        if (lastStatus == StatusOff)
            return TaskCycle;
        return std::nullopt;
    default:
        return task;
    }
}

char CommandLetterOf(quint8 task) {
    switch (task) {
    case TaskPowerOn:
        return 'n';
    case TaskPowerOff:
        return 'f';
    case TaskReboot:
        return 'r';
    case TaskPulse:
        return 'p';
    case TaskCycle:
        return 'c';
    case TaskQuery:
        return 'q';
    default:
        return 0;
    }
}

QByteArray CommandFrame(const QByteArray& password, char letter) {
    constexpr char Esc = 0x1B;
    constexpr char Cr = 0x0D;
    QByteArray frame;
    frame.append(Esc).append(password).append(Esc).append(letter).append(Cr);
    return frame;
}

bool HasControlCharacter(const QString& text) {
    return std::any_of(text.cbegin(), text.cend(),
                       [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
}

} // namespace kavio
