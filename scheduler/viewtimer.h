#pragma once

#include "Table.h"

#include <QDialog>

class QPushButton;
class QTableWidget;

namespace kavio {

class TSetTimerFRM;
class TTimerFrm;
class UndoStore;

// The timer list: the timers of one unit, one row each, with New, Edit and Delete. Changes go
// through the editor; after each the runner is refreshed. Modeless, created once and reused for
// whichever unit it is shown for last.
class TViewTimerFrm : public QDialog {
    Q_OBJECT

public:
    TViewTimerFrm(TSetTimerFRM& editor, TTimerFrm& runner, QWidget* parent = nullptr);
    // The program makes the list before the runner; it hands the runner over once that exists.
    explicit TViewTimerFrm(TSetTimerFRM& editor, QWidget* parent = nullptr);
    void setRunner(TTimerFrm* timerRunner) { runner = timerRunner; }
    // Where a deleted timer is kept for Edit > Undo; none by default.
    void setUndoStore(UndoStore* store) { undoStore = store; }

    // Shows the timers of this unit (or group) without blocking; an open list switches to it.
    void ShowUnitTimers(quint16 index);
    // Rebuilds the rows from Timer.DB, in table order.
    void FillTimerGrid();

    quint16 unitIndex() const { return UnitIndex; }
    // The key of the timer in a row; 0 for the empty row of a unit without timers.
    quint16 timerIndexAt(int row) const;

    QTableWidget* theGrid;
    QPushButton* New;
    QPushButton* Edit;
    QPushButton* Delete;
    QPushButton* CloseBtn;

signals:
    // The unit's last timer was deleted and its timer mark cleared: the device list must be
    // rebuilt.
    void deviceListChanged();
    // A timer was made, changed or deleted here: whatever shows timer marks must look again.
    void timersChanged();

public slots:
    void NewClick();
    void EditClick();
    void DeleteClick();
    void CloseBtnClick();

private:
    int selectedRow() const;

    TSetTimerFRM& editor;
    TTimerFrm* runner = nullptr;
    UndoStore* undoStore = nullptr;

    void refreshAndFill();
    TTable TimerTable{QStringLiteral("Timer.DB")};
    TTable MasterTable{QStringLiteral("Master.DB")};
    quint16 UnitIndex = 0;
};

} // namespace kavio
