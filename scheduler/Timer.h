#pragma once

#include "Table.h"

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
// and queues the task of every timer that has become due. It also lists today's events and ticks
// each one as it fires.
//
// Firing rules: each tick serves every minute since the last one it served, up to the current
// one, so a late tick (a suspend, a freeze) or a skipped hour (the clocks going forward) loses
// nothing: such an event fires at the first tick after it. An event more than
// missedAfterMinutes() late is not fired but logged as missed. No event fires twice on its day:
// a clock set back, or an hour repeated when the clocks go back, fires nothing again. The first
// tick of a new day recomputes every timer's next event date as the day begins, so daily
// timers keep firing without a restart; a recomputation that the store refuses (another
// program holds it locked) is tried again on every tick until it succeeds, and the minutes
// waiting meanwhile are served then. A timer on a group fires for each member of the group, by
// name; a timer whose unit is gone fires nothing and is not listed.
//
// Problems are written to the command log (the engine's log), each once, and never wait for
// anyone: the station may be unattended.
class TTimerFrm : public QDialog {
    Q_OBJECT

public:
    // One row of today's selection (identical timers merged).
    struct TEventRow {
        QVariant timerIndex; // the lowest key among the merged timers, for messages
        QVariant index;
        QVariant task;
        QVariant timeOfDay;
        QVariant date;
        QVariant every;
        QVariant group; // 0 a unit, 1 a group, empty when its record is gone
    };

    static constexpr int TickMs = 1000;
    // The settings key of the bound beyond which a late event is missed, and its default.
    static constexpr const char* MissedAfterKey = "Timer/MissedAfterMinutes";
    static constexpr int DefaultMissedAfterMinutes = 15;
    // Longer gaps than this are not walked day by day: one line tells of them.
    static constexpr int DaysWalked = 7;

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
    bool recomputationPending() const { return datesPending; }
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
    void serveUpTo(const QDateTime& now);
    bool recalculate(const QDateTime& asOf, bool passedOnly = false);
    void serveMinutes(const QDate& day, int from, int to, const QDateTime& now);
    void fire(quint16 index, quint8 task, bool group);
    void tick(const QString& key);
    void rebuildList();
    void clearList();
    void newDayList();
    void log(const QString& line);
    void report(const std::exception& error);

    TCommandEngine& processor;
    std::vector<TEventRow> rows;
    QHash<QString, QListWidgetItem*> itemOf; // the list's items by event
    QDate currentDay;                        // the day whose next event dates are in the table
    qint64 lastMinute = -1;    // the last minute (date and time) whose timers were served
    bool datesPending = false; // the next event dates still wait to be recomputed
    bool recalcFailing = false;
    int missedAfter = DefaultMissedAfterMinutes;
    QMap<QDate, QSet<QString>> served; // events fired or missed, of today and yesterday, by day
    QSet<QString> reported;            // problems already told, until the next refresh or day
};

} // namespace kavio
