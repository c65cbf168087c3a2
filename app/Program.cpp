#include "Program.h"

#include "AboutBox.h"
#include "CommandProcessor.h"
#include "GroupProperties.h"
#include "HistoryWindow.h"
#include "ItemProperties.h"
#include "KavioList.h"
#include "Main.h"
#include "ServingCore.h"
#include "SetTimer.h"
#include "StatusLine.h"
#include "Timer.h"
#include "TimerActions.h"
#include "UndoStore.h"
#include "UnitActions.h"
#include "viewtimer.h"

#include <QCoreApplication>

namespace kavio {

TKavioProgram::TKavioProgram(ServingCore& core, bool following) {
    KavioCCMain = std::make_unique<TKavioCCMain>(following ? TKavioCCMain::Start::Following
                                                           : TKavioCCMain::Start::Serving);
    TKavioCCMain* main = KavioCCMain.get();
    ItemPropFRM = std::make_unique<TItemPropFRM>(main);
    GroupPropFRM = std::make_unique<TGroupPropFRM>(main);
    SetTimerFRM = std::make_unique<TSetTimerFRM>(main);
    ViewTimerFrm = std::make_unique<TViewTimerFrm>(*SetTimerFRM, main);
    CmndProc = std::make_unique<TCmndProc>(core.engine(), core.history());
    KavioCCMain->setCommandProcessor(CmndProc.get());
    // The processor makes a new connection-failure notice for every failure: none is made here.
    // Creating the runner recomputes every timer's next event date.
    TimerFrm = std::make_unique<TTimerFrm>(
        CmndProc->engine(), following ? TTimerFrm::Firing::Elsewhere : TTimerFrm::Firing::Here);
    ViewTimerFrm->setRunner(TimerFrm.get());
    AboutBox = std::make_unique<TAboutBox>(main);
    HistoryFrm = std::make_unique<THistoryFrm>();

    UnitActions = new TUnitActions(*main, *ItemPropFRM, *GroupPropFRM, *AboutBox);
    TimerActions = new TTimerActions(*main, *SetTimerFRM, *ViewTimerFrm, *TimerFrm,
                                     UnitActions->TimerSeparator, main);
    // After the database is emptied the runner must forget today's events; after an undo it
    // must learn them again.
    QObject::connect(UnitActions, &TUnitActions::databaseEmptied, TimerFrm.get(),
                     &TTimerFrm::RefreshTimers);
    AddHistoryEntry(*main, *HistoryFrm);
    // A double-click on a unit's line in the Details view opens its history.
    QObject::connect(main->KavioList, &KavioListView::unitDoubleClicked, HistoryFrm.get(),
                     &THistoryFrm::showUnit);
    ViewTimerFrm->setUndoStore(&UnitActions->undoStore());
    StatusLine = new TStatusLine(*main->statusBar(), *main->KavioList, CmndProc->engine(), main);
    QObject::connect(&UnitActions->undoStore(), &UndoStore::restored, TimerFrm.get(),
                     &TTimerFrm::RefreshTimers);
    TViewTimerFrm* timerList = ViewTimerFrm.get();
    // The marks are read from the timers at each paint: a repaint shows a timer made or deleted
    // in the timer list.
    QObject::connect(timerList, &TViewTimerFrm::timersChanged, main,
                     [main] { main->KavioList->viewport()->update(); });
    QObject::connect(&UnitActions->undoStore(), &UndoStore::restored, timerList, [timerList] {
        if (timerList->isVisible())
            timerList->FillTimerGrid();
    });

    QObject::connect(KavioCCMain.get(), &TKavioCCMain::closed, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
}

TKavioProgram::~TKavioProgram() {
    // The windows parented to the main window go with it; the runner and the list refer to the
    // processor and the editor, so they go before those.
    HistoryFrm.reset();
    ViewTimerFrm.reset();
    TimerFrm.reset();
    AboutBox.reset();
    SetTimerFRM.reset();
    GroupPropFRM.reset();
    ItemPropFRM.reset();
    KavioCCMain.reset();
}

void TKavioProgram::start() {
    KavioCCMain->show();
}

void TKavioProgram::raise() {
    TKavioCCMain* window = KavioCCMain.get();
    if (window->isMinimized() || !window->isVisible())
        window->showNormal();
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace kavio
