#include "SwitchMachine.h"

namespace kavio::sim {

QByteArray SwitchMachine::handle(char letter) {
    switch (letter) {
    case 'n':
        cycling_ = false;
        on_ = true;
        return stateWord();
    case 'f':
        cycling_ = false;
        on_ = false;
        return stateWord();
    case 'c':
    case 'r':
        settle();
        return startCycle(true);
    case 'p':
        settle();
        return startCycle(on_);
    case 'q':
        if (!cycling_) {
            return stateWord();
        }
        if (cycleAnswersLeft_ > 0) {
            --cycleAnswersLeft_;
            return QByteArrayLiteral("CYCLE");
        }
        settle();
        return stateWord();
    default:
        return {};
    }
}

QByteArray SwitchMachine::startCycle(bool endsOn) {
    onAfterCycle_ = endsOn;
    if (cycles_ <= 0) {
        on_ = endsOn;
        return stateWord();
    }
    cycling_ = true;
    cycleAnswersLeft_ = cycles_ - 1;
    return QByteArrayLiteral("CYCLE");
}

void SwitchMachine::settle() {
    if (cycling_) {
        cycling_ = false;
        on_ = onAfterCycle_;
    }
}

QByteArray SwitchMachine::stateWord() const {
    return on_ ? QByteArrayLiteral("ON") : QByteArrayLiteral("OFF");
}

} // namespace kavio::sim
