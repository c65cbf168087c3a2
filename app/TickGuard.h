#pragma once

#include <QtGlobal>

namespace kavio {

class KavioListView;
class TKavioCCMain;

// Power commands on the ticked units ask first when some of those units cannot be seen: ticks
// survive restarts and tab changes, and a ticked line may be scrolled away or filtered out.
// "Power OFF 27 units, 4 of them not shown?" (No is the default). Query asks nothing. True when
// the command may go.
bool ConfirmTickedCommand(TKavioCCMain& main, quint8 task);

// How many ticked units the power buttons reach in the current tab (groups left out), and how
// many of those lines are not on screen.
struct TickedLines {
    int units = 0;
    int hidden = 0;
};
TickedLines CountTicked(const KavioListView& list);

// Tells in the status bar that Reboot or Pulse left out `count` units whose status is not known.
void ReportSkipped(TKavioCCMain& main, quint8 task, int count);

} // namespace kavio
