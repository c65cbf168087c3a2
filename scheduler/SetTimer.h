#pragma once

#include "Recurrence.h"
#include "SpinEdit.h"
#include "Table.h"
#include "TimerRecord.h"

#include <QDialog>
#include <array>

class QButtonGroup;
class QCheckBox;
class QDateEdit;
class QGroupBox;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QTimeEdit;

namespace kavio {

// The timer editor "Set Timer": one timer of one unit, as a task, a recurrence kind and the
// fields of that kind's page. Created once and reused: its caller runs PrepareNewTimer (a new
// timer) or LoadTimer (an existing one), then ShowModalFor. OK saves and closes; Cancel and Esc
// write nothing. The editor does not recompute next event dates; its callers refresh the runner.
class TSetTimerFRM : public QDialog {
    Q_OBJECT

public:
    static constexpr int mrOk = 1;
    static constexpr int mrCancel = 2;

    explicit TSetTimerFRM(QWidget* parent = nullptr);

    // Turn the Power ON, every 1 day, every page reset to the current date and time; OK appends.
    void PrepareNewTimer();
    // Shows the stored timer: its task, its kind and that kind's page (the other pages keep what
    // they showed); OK rewrites it. Throws TimerRecordError when no timer has this key or a field
    // cannot be read.
    void LoadTimer(quint16 timerIndex);
    // Remembers the unit, shows the window modally and returns mrOk or mrCancel.
    int ShowModalFor(quint16 unitIndex);

    void UpdateTaskCaption();
    void ShowEveryPage();

    quint16 unitIndex() const { return UnitIndex; }
    bool isNew() const { return IsNew; }

    QGroupBox* GroupBox1;
    QRadioButton* PowerOnRB;
    QRadioButton* PowerOff;
    QRadioButton* RebootRB;
    QRadioButton* PulseRB;
    QRadioButton* PowerCycle;
    QGroupBox* GroupBox2;
    QRadioButton* DayRB;
    QRadioButton* WeekRB;
    QRadioButton* MonthRB;
    QRadioButton* YearRB;
    QRadioButton* OnceRB;
    QGroupBox* GroupBox3;
    QStackedWidget* PageControl1;
    TSpinEdit* DaySpin;
    QTimeEdit* DayTime;
    TSpinEdit* WeekSpin;
    std::array<QCheckBox*, 7> DayBoxes{}; // SunCB, MonCB, TueCB, WedCB, TruCB, FriCB, SatCB
    QTimeEdit* WeekTime;
    TSpinEdit* MonthSpin;
    std::array<QCheckBox*, 12> MonthBoxes{}; // JanCB .. DecCB
    QTimeEdit* MonthTime;
    QDateEdit* YearDate;
    QTimeEdit* YearTime;
    QDateEdit* OnceDate;
    QTimeEdit* OnceTime;
    QPushButton* Button1;
    QPushButton* Button2;

public slots:
    // OK: checks, saves and closes with mrOk; on a refusal or a failure the window stays open.
    void Button1Click();
    void Button2Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildTaskBox();
    void buildEveryBox();
    void buildPages();
    quint8 selectedTask() const;
    quint8 selectedEvery() const;
    quint16 dayMask() const;
    quint16 monthMask() const;
    void SaveTimer();

    QButtonGroup* taskButtons;
    QButtonGroup* everyButtons;
    TTable TimerTable{QStringLiteral("Timer.DB")};
    quint16 UnitIndex = 0;
    quint16 loadedTimer = 0;
    TTimerRecord loaded; // as LoadTimer found it
    bool IsNew = true;
};

} // namespace kavio
