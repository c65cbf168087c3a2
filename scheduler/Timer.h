#pragma once

#include "Table.h"

#include <QDate>
#include <QDateTime>
#include <QDialog>
#include <QSet>
#include <QString>
#include <QTime>
#include <vector>

class QListWidget;
class QPushButton;
class QTimer;

namespace kavio {

class TCommandEngine;
namespace lcd {
class TLCDScreen;
}

// The timer runner: a hidden window whose one-second tick shows the time on a dot-matrix clock
// and queues, once a minute, the task of every timer due today at that minute. It also lists
// today's events and ticks each one as it fires.
//
// Firing rules: a minute's timers are queued on the first tick that falls in that minute, and
// never twice for the same date and minute (a clock set back fires nothing again). The first
// tick of a new day recomputes every timer's next event date and rebuilds today's list, so
// daily timers keep firing without a restart. A timer on a group fires for each member of the
// group, by name; a timer whose unit is gone fires nothing. A timer row that cannot be read is
// reported once and the others go on.
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
    };

    static constexpr int TickMs = 1000;

    // Creating the runner recomputes every timer's next event date and builds today's list.
    explicit TTimerFrm(TCommandEngine& processor, QWidget* parent = nullptr);

    // Selects today's rows and sets the caption to the date filter line.
    void SelectTodaysEvents();
    // Rebuilds the list from the selected rows.
    void ShowTodaysEvents();
    // Recomputes all next event dates, re-selects and rebuilds the list. Called after every
    // change of a timer.
    void RefreshTimers();

    const std::vector<TEventRow>& todaysRows() const { return rows; }

    lcd::TLCDScreen* LCD;
    QListWidget* EventDisplay;
    QPushButton* Button1;
    QTimer* Timer1;

public slots:
    // The tick: the clock, and the timers due in this minute.
    void Timer1Timer();
    void Button1Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void startNewDay(const QDate& day);
    void rebuildDay(const QDate& day, const QDateTime& asOf);
    void recalculate(const QDateTime& now);
    void fireMinute(const QDateTime& now);
    void fire(quint16 index, quint8 task);
    void report(const std::exception& error);
    QString nameOf(quint16 index);

    TCommandEngine& processor;
    TTable MasterTable{QStringLiteral("Master.DB")};
    TTable GroupTable{QStringLiteral("Group.DB")};
    std::vector<TEventRow> rows;
    QDate currentDay;         // the day today's list and next event dates were made for
    qint64 lastMinute = -1;   // the last minute (date and time) whose timers were queued
    QSet<QString> firedToday; // rows of today that have fired, ticked again when rebuilt
    QSet<QString> reported;   // problems already told in the tick, until the next refresh
};

} // namespace kavio
