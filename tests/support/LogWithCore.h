#pragma once

#include "CommandProcessor.h"
#include "ServingCore.h"

namespace kavio {

// The command log window over a serving core of its own, as the program pairs them: the window
// goes first, then the core, which writes the history rows still waiting.
struct CoreOfLog {
    ServingCore core;
};

class LogWithCore : private CoreOfLog, public TCmndProc {
public:
    LogWithCore()
        : TCmndProc(core.engine(), core.history()) {}
    ServingCore& servingCore() { return core; }
};

} // namespace kavio
