#pragma once

#include <QByteArray>

namespace kavio::sim {

// The power state of a unit that behaves like real hardware. Rules, per accepted command:
//   n  -> on,  answers "ON"      f -> off, answers "OFF"  (both cancel a running cycle at once)
//   c  -> cycle that ends on                    r -> reboot: a cycle that ends on
//   p  -> pulse: a cycle that ends in the state the unit had when the pulse began
//   q  -> during a cycle "CYCLE" while the cycle lasts, otherwise the state ("ON"/"OFF")
// A cycle lasts `cycles` answers: the c/r/p itself answers the first "CYCLE", each following q
// answers the next; the q after the last "CYCLE" ends the cycle and answers the end state. So
// with cycles = 3: c "CYCLE", q "CYCLE", q "CYCLE", q "ON". With cycles <= 0, c/r/p take effect
// at once and answer the end state. A c/r/p during a cycle first settles the running cycle, then
// starts its own. Any other letter changes nothing and gets an empty reply (no answer).
class SwitchMachine {
public:
    explicit SwitchMachine(int cycles = 3)
        : cycles_(cycles) {}

    QByteArray handle(char letter);

    bool isOn() const { return on_; }
    bool isCycling() const { return cycling_; }

private:
    QByteArray startCycle(bool endsOn);
    QByteArray stateWord() const;
    void settle();

    int cycles_;
    bool on_ = false;
    bool cycling_ = false;
    bool onAfterCycle_ = true;
    int cycleAnswersLeft_ = 0;
};

} // namespace kavio::sim
