#pragma once

#include <memory>

namespace kavio {

class TCmndProc;
class TKavioCCMain;

// The program's windows, each created once, in this order, and kept until the program ends.
// Only the main window is shown; the others are shown on demand and hidden again. Closing the
// main window ends the program, whatever other windows are open.
class TKavioProgram {
public:
    // Creates every window (the main window's start-up work runs first, before any other window
    // exists). Throws DatabaseError when the store fails during start-up.
    TKavioProgram();
    ~TKavioProgram();
    TKavioProgram(const TKavioProgram&) = delete;
    TKavioProgram& operator=(const TKavioProgram&) = delete;

    // Shows the main window.
    void start();
    // Brings the main window to the front (another start of the program asked for it).
    void raise();

    std::unique_ptr<TKavioCCMain> KavioCCMain;
    // Further windows are created between these two, in this order: the unit dialog
    // (TItemPropFRM), the group dialog (TGroupPropFRM), the timer editor (TSetTimerFRM), the
    // timer list (TViewTimerFrm).
    std::unique_ptr<TCmndProc> CmndProc;
    // After the command processor: the timer runner (TTimerFrm), then the About box (TAboutBox).
};

} // namespace kavio
