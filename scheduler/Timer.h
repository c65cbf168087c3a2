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

    // Creating the runner recomputes every timer's next event date and builds today's list.
    explicit TTimerFrm(TCommandEngine& processor, QWidget* parent = nullptr);

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
    bool recomputationPending() const { return firing->recomputationPending(); }
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
    void rebuildList();
    void clearList();
    void newDayList();
    void report(const std::exception& error);

    TCommandEngine& processor;
    std::vector<TEventRow> rows;
    QHash<QString, QListWidgetItem*> itemOf; // the list's items by event
    TimerFiring* firing = nullptr;
};

} // namespace kavio
