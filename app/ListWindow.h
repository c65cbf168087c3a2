#pragma once

#include <functional>

class QMenu;

namespace kavio {

struct TKavio;

// What the timer actions and the History entry take of the main window: the line the operator
// picked, the list to build again after a change, the menus they add entries to and the keys
// held with Ctrl. The main window is the one implementation; the narrow view keeps those classes
// from reaching into the rest of it.
class ListWindow {
public:
    // The line that the right-click (or the operator) selected, or nullptr.
    virtual const TKavio* CurrentEntry() const = 0;
    // Builds the list again after a change of records made here.
    virtual void RebuildList() = 0;
    // Runs `action` on Ctrl and `key` anywhere in the window.
    virtual void setCtrlKey(int key, std::function<void()> action) = 0;
    virtual QMenu* popupMenu() const = 0;
    virtual QMenu* toolsMenu() const = 0;

protected:
    ~ListWindow() = default;
};

} // namespace kavio
