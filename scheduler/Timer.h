#pragma once

#include "Table.h"
#include "TimerFiring.h"

#include <QDate>
#include <QDateTime>
#include <QDialog>
#include <QHash>
#include <QMap>
#include <QSet>
#include <QString>
#include <QTime>
#include <vector>

class QListWidget;
class QListWidgetItem;
class QPushButton;
class QTimer;

namespace kavio {

class TCommandEngine;
namespace lcd {
class TLCDScreen;
}

// The timer runner: a hidden window whose one-second tick shows the time on a dot-matrix clock
// and lets the timers that have become due fire (TimerFiring has the rules). It also lists
// today's events and ticks each one as it fires.
//
// When another program serves the units (the service kaviod), that program fires the timers:
// the runner then only shows the day's events and ticks those it is told of, until it is asked
// to fire them here again.
class TTimerFrm : public QDialog {
    Q_OBJECT

public:
    // One row of today's selection (identical timers merged).
    using TEventRow = TimerFiring::EventRow;

    static constexpr int TickMs = 1000;
    // The settings key of the bound beyond which a late event is missed, and its default.
    static constexpr const char* MissedAfterKey = TimerFiring::MissedAfterKey;
    static constexpr int DefaultMissedAfterMinutes = TimerFiring::DefaultMissedAfterMinutes;
    // Longer gaps than this are not walked day by day: one line tells of them.
    static constexpr int DaysWalked = TimerFiring::DaysWalked;

    enum class Firing { Here, Elsewhere };

    // Creating a runner that fires here recomputes every timer's next event date; either kind
    // builds today's list.
    explicit TTimerFrm(TCommandEngine& processor, QWidget* parent = nullptr);
    TTimerFrm(TCommandEngine& processor, Firing firing, QWidget* parent = nullptr);

    bool firesHere() const { return firing != nullptr; }
    // Another program fires the timers from now on; `servedToday` are the events it has fired.
    void fireElsewhere(const QSet<QString>& servedToday);
    // This runner fires the timers from now on. What the other program fired does not fire
    // again.
    void fireHere();
    // The other program fired (or missed) the event of this key.
    void markFired(const QString& key);
    // Today's events fired or missed, here or elsewhere.
    QSet<QString> servedToday() const;

    // Selects today's rows and sets the caption to the date filter line.
    void SelectTodaysEvents();
    // Rebuilds the list from the selected rows.
    void ShowTodaysEvents();
    // Recomputes all next event dates, re-selects and rebuilds the list. Called after every
    // change of a timer. Events of the current minute that have not fired yet still fire.
    void RefreshTimers();

    // The rows of the list as last made (a hidden window makes its list anew when shown).
    const std::vector<TEventRow>& todaysRows() const { return rows; }
    // Whether next event dates are waiting to be recomputed (the store refused the last try).
    bool recomputationPending() const { return firing && firing->recomputationPending(); }
    // The setting [Timer] MissedAfterMinutes, a whole number of minutes from 1 to 1440; any
    // other value gives the default.
    static int missedAfterMinutes();

    lcd::TLCDScreen* LCD;
    QListWidget* EventDisplay;
    QPushButton* Button1;
    QTimer* Timer1;

public slots:
    // The tick: the clock, and the timers that have become due since the last tick.
    void Timer1Timer();
    void Button1Click();
    // Today's list is made anew (the next event dates were computed again elsewhere).
    void rebuildList();
    // A new day began: today's events are others.
    void newDayList();

signals:
    // Fired here: the event of that key; a new day began; the timers were computed again.
    void fired(const QString& key);
    void dayBegan();
    void timersComputed();
    // A timer was changed here while another program fires them: it is to compute them again.
    void timersEdited();

protected:
    // The first showing puts the runner where it was last hidden (inside the screen); each
    // hiding remembers the place for the next start.
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    bool placed = false;
    void fitClock();
    // Where the clock's text starts: for a one-digit hour, and for a two-digit one.
    qint8 clockXOffsets[2] = {0, 0};
    void tick(const QString& key);
    void clearList();
    void report(const std::exception& error);

    TCommandEngine& processor;
    std::vector<TEventRow> rows;
    QHash<QString, QListWidgetItem*> itemOf; // the list's items by event
    TimerFiring* firing = nullptr;           // null while another program fires the timers
    QSet<QString> servedElsewhere;           // today's events it fired, as told
};

} // namespace kavio
