#include "TimerActions.h"

#include "Kavio.h"
#include "ListWindow.h"
#include "SetTimer.h"
#include "Timer.h"
#include "UnitWriter.h"
#include "viewtimer.h"

#include <QAction>
#include <QMenu>

namespace kavio {

TTimerActions::TTimerActions(ListWindow& main, TSetTimerFRM& editor, TViewTimerFrm& list,
                             TTimerFrm& runner, QAction* after, QObject* parent)
    : QObject(parent)
    , Main(main)
    , SetTimerFRM(editor)
    , ViewTimerFrm(list)
    , TimerFrm(runner) {
    QMenu* popup = Main.popupMenu();
    const QList<QAction*> entries = popup->actions();
    const qsizetype at = entries.indexOf(after);
    QAction* before = at >= 0 && at + 1 < entries.size() ? entries.at(at + 1) : nullptr;

    AddTimer1 = new QAction(QStringLiteral("Add Timer"), popup);
    connect(AddTimer1, &QAction::triggered, this, &TTimerActions::AddTimer1Click);
    ViewTimers1 = new QAction(QStringLiteral("View Timers"), popup);
    connect(ViewTimers1, &QAction::triggered, this, &TTimerActions::ViewTimers1Click);
    popup->insertActions(before, {AddTimer1, ViewTimers1});

    connect(&ViewTimerFrm, &TViewTimerFrm::deviceListChanged, this, [this] { Main.RebuildList(); });
    Main.setCtrlKey(Qt::Key_2, [this] { ShowRunner(); });
}

void TTimerActions::AddTimer1Click() {
    const TKavio* entry = Main.CurrentEntry();
    if (!entry)
        return;
    const quint16 index = entry->Index;
    SetTimerFRM.PrepareNewTimer();
    if (SetTimerFRM.ShowModalFor(index) != TSetTimerFRM::mrOk)
        return;
    writer::markTimer(index);
    Main.RebuildList();
    TimerFrm.RefreshTimers();
}

void TTimerActions::ViewTimers1Click() {
    if (const TKavio* entry = Main.CurrentEntry())
        ViewTimerFrm.ShowUnitTimers(entry->Index);
}

void TTimerActions::ShowRunner() {
    TimerFrm.show();
    TimerFrm.raise();
    TimerFrm.activateWindow();
}

} // namespace kavio
