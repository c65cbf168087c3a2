#pragma once

#include "Response.h"
#include "SwitchMachine.h"
#include "UnitConfig.h"

namespace kavio::sim {

// Decides, command by command, what a unit with a given configuration does. Holds the state
// that lives across connections (the Switch power state, the Cycle count) and no sockets.
class CommandResponder {
public:
    explicit CommandResponder(const UnitConfig& config = {});

    Response respond(const QByteArray& password, char letter);

    const SwitchMachine& switchMachine() const { return switch_; }

private:
    UnitConfig config_;
    SwitchMachine switch_;
    int cycleAnswersGiven_ = 0;
};

} // namespace kavio::sim
