#pragma once

#include <QElapsedTimer>
#include <QObject>

class QLabel;
class QStatusBar;
class QTimer;

namespace kavio {

class TCommandEngine;
class KavioListView;
struct TCommandResult;

// The main window's status bar. Beside the outcome of the last action (shown by the actions
// themselves, and given the room it needs first), it keeps three fields up to date:
// - the units by status: "500 units: 320 on, 100 off, 40 unreachable, 30 unknown, 10 busy";
// - the ticked units that the power buttons reach in the current tab: "27 ticked";
// - the queue while it is worked: "Polling 120 of 500, about 38 s left", the time measured from
//   the exchanges of this run of the queue (before the first one ends, from the engine's pacing).
class TStatusLine : public QObject {
    Q_OBJECT

public:
    // How often the fields are brought up to date at most.
    static constexpr int RefreshMs = 250;

    // The fields go into `bar`; the ticked units are counted in `list`. `parent` owns the line.
    TStatusLine(QStatusBar& bar, KavioListView& list, TCommandEngine& engine, QObject* parent);

    // Brings every field up to date now.
    void refresh();
    QLabel* Counts;
    QLabel* Ticked;
    QLabel* Queue;

    // The texts of the fields, for given figures.
    static QString countsText(const int byStatus[6]);
    static QString queueText(bool polling, int position, int total, qint64 msLeft);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Outcome messages come first: while one is shown, the fields give up the room it needs and
    // show what is left of their texts (all of it in their tooltips).
    void arrangeFields();
    void exchangeFinished(const TCommandResult& result);
    void refreshCounts();
    void refreshTicked();
    void refreshQueue();
    void later();

    QStatusBar& m_bar;
    KavioListView& m_list;
    TCommandEngine& Engine;
    QTimer* refreshTimer;
    QTimer* queueTimer;
    // The current run of the queue: from the first entry seen to the moment it is empty.
    QElapsedTimer runClock;
    int done = 0;
};

} // namespace kavio
