#pragma once

#include <memory>

namespace kavio {

class ServingCore;
class TAboutBox;
class TCmndProc;
class TGroupPropFRM;
class THistoryFrm;
class TItemPropFRM;
class TKavioCCMain;
class TSetTimerFRM;
class TStatusLine;
class TTimerActions;
class TTimerFrm;
class TUnitActions;
class TViewTimerFrm;

// The program's windows, each created once, in this order, and kept until the program ends.
// Only the main window is shown; the others are shown on demand and hidden again. Closing the
// main window ends the program, whatever other windows are open.
class TKavioProgram {
public:
    // Creates every window (the main window's start-up work runs first, before any other window
    // exists); they show the queue of `core`, which outlives them. Throws DatabaseError when the
    // store fails during start-up. A program that starts following the service neither resets
    // the statuses nor fires timers: the service does.
    explicit TKavioProgram(ServingCore& core, bool following = false);
    ~TKavioProgram();
    TKavioProgram(const TKavioProgram&) = delete;
    TKavioProgram& operator=(const TKavioProgram&) = delete;

    // Shows the main window.
    void start();
    // Brings the main window to the front (another start of the program asked for it).
    void raise();

    std::unique_ptr<TKavioCCMain> KavioCCMain;
    std::unique_ptr<TItemPropFRM> ItemPropFRM;
    std::unique_ptr<TGroupPropFRM> GroupPropFRM;
    std::unique_ptr<TSetTimerFRM> SetTimerFRM;
    std::unique_ptr<TViewTimerFrm> ViewTimerFrm;
    std::unique_ptr<TCmndProc> CmndProc;
    std::unique_ptr<TTimerFrm> TimerFrm;
    std::unique_ptr<TAboutBox> AboutBox;
    std::unique_ptr<THistoryFrm> HistoryFrm;

    // The menus, popup entries and keys of the main window that reach the dialogs and the
    // scheduler; owned by the main window.
    TUnitActions* UnitActions = nullptr;
    TTimerActions* TimerActions = nullptr;
    // The status bar's fields; owned by the main window.
    TStatusLine* StatusLine = nullptr;
};

} // namespace kavio
