#pragma once

#include <QObject>

class QAction;

namespace kavio {

class ListWindow;
class TSetTimerFRM;
class TTimerFrm;
class TViewTimerFrm;

// The scheduler in the main window: "Add Timer" and "View Timers" in the list's popup menu
// (for units and groups alike) and Ctrl+2, which shows the timer runner.
class TTimerActions : public QObject {
    Q_OBJECT

public:
    // The entries go right after `after` in the popup menu of `main`; `parent` owns the actions.
    TTimerActions(ListWindow& main, TSetTimerFRM& editor, TViewTimerFrm& list, TTimerFrm& runner,
                  QAction* after, QObject* parent);

    void AddTimer1Click();
    void ViewTimers1Click();
    void ShowRunner();

    QAction* AddTimer1;
    QAction* ViewTimers1;

private:
    ListWindow& Main;
    TSetTimerFRM& SetTimerFRM;
    TViewTimerFrm& ViewTimerFrm;
    TTimerFrm& TimerFrm;
};

} // namespace kavio
