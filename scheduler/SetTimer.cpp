#include "SetTimer.h"

#include "Clock.h"
#include "Codes.h"
#include "GlobalFunctions.h"
#include "Messages.h"
#include "WindowPlacement.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace kavio {
namespace {

QLabel* label(const char* text, QWidget* parent) {
    auto* shown = new QLabel(QString::fromLatin1(text), parent);
    shown->setTextFormat(Qt::PlainText);
    return shown;
}

// Hour, minute and AM/PM on screen; the value keeps its seconds.
QTimeEdit* timePicker(const char* name, QWidget* parent) {
    auto* picker = new QTimeEdit(parent);
    picker->setObjectName(QLatin1String(name));
    picker->setLocale(QLocale::c());
    picker->setDisplayFormat(QStringLiteral("hh:mm AP"));
    return picker;
}

QDateEdit* datePicker(const char* name, QWidget* parent) {
    auto* picker = new QDateEdit(parent);
    picker->setObjectName(QLatin1String(name));
    picker->setCalendarPopup(true);
    return picker;
}

TSpinEdit* spinEdit(const char* name, int lowest, int highest, QWidget* parent) {
    auto* spin = new TSpinEdit(lowest, highest, parent);
    spin->setObjectName(QLatin1String(name));
    return spin;
}

// One line of a page: the controls from left to right, then empty space.
QHBoxLayout* row(std::initializer_list<QWidget*> widgets) {
    auto* line = new QHBoxLayout;
    for (QWidget* widget : widgets)
        line->addWidget(widget);
    line->addStretch();
    return line;
}

QTime withoutMilliseconds(const QTime& time) {
    return QTime(time.hour(), time.minute(), time.second());
}

void refuse(QWidget* parent, const QString& text) {
    Messages::beep(Beep::Exclamation);
    Messages::show(MessageKind::Error, QCoreApplication::applicationName(), text, QMessageBox::Ok,
                   parent);
}

} // namespace

TSetTimerFRM::TSetTimerFRM(QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Set Timer"));
    auto* layout = new QVBoxLayout(this);
    buildTaskBox();
    buildEveryBox();
    GroupBox3 = new QGroupBox(this);
    GroupBox3->setObjectName(QStringLiteral("GroupBox3"));
    PageControl1 = new QStackedWidget(GroupBox3);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    (new QVBoxLayout(GroupBox3))->addWidget(PageControl1);
    buildPages();

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    connect(Button1, &QPushButton::clicked, this, &TSetTimerFRM::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TSetTimerFRM::Button2Click);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);

    layout->addWidget(GroupBox1);
    layout->addWidget(GroupBox2);
    layout->addWidget(GroupBox3);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    WindowPlacement::keepOnScreen(this);

    PowerOnRB->setChecked(true);
    DayRB->setChecked(true);
    UpdateTaskCaption();
    ShowEveryPage();
}

void TSetTimerFRM::buildTaskBox() {
    GroupBox1 = new QGroupBox(QStringLiteral(" Task "), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    taskButtons = new QButtonGroup(this);
    auto make = [this](const char* name, const char* caption, int task) {
        auto* button = new QRadioButton(QString::fromLatin1(caption), GroupBox1);
        button->setObjectName(QLatin1String(name));
        taskButtons->addButton(button, task);
        connect(button, &QRadioButton::clicked, this, &TSetTimerFRM::UpdateTaskCaption);
        return button;
    };
    PowerOnRB = make("PowerOnRB", "Turn the Power ON", TaskPowerOn);
    PowerOff = make("PowerOff", "Turn the Power OFF", TaskPowerOff);
    RebootRB = make("RebootRB", "Reboot the Power", TaskReboot);
    PulseRB = make("PulseRB", "Pulse the Power", TaskPulse);
    PowerCycle = make("PowerCycle", "Cycle the Power", TaskCycle);
    auto* grid = new QGridLayout(GroupBox1);
    grid->addWidget(PowerOnRB, 0, 0);
    grid->addWidget(PowerOff, 0, 1);
    grid->addWidget(RebootRB, 1, 0);
    grid->addWidget(PulseRB, 1, 1);
    grid->addWidget(PowerCycle, 1, 2);
}

void TSetTimerFRM::buildEveryBox() {
    GroupBox2 = new QGroupBox(QStringLiteral(" Every "), this);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    everyButtons = new QButtonGroup(this);
    auto* line = new QHBoxLayout(GroupBox2);
    auto make = [this, line](const char* name, const char* caption, int every) {
        auto* button = new QRadioButton(QString::fromLatin1(caption), GroupBox2);
        button->setObjectName(QLatin1String(name));
        everyButtons->addButton(button, every);
        connect(button, &QRadioButton::clicked, this, &TSetTimerFRM::ShowEveryPage);
        line->addWidget(button);
        return button;
    };
    DayRB = make("DayRB", "Day", EveryDay);
    WeekRB = make("WeekRB", "Week", EveryWeek);
    MonthRB = make("MonthRB", "Month", EveryMonth);
    YearRB = make("YearRB", "Yeay", EveryYear);
    OnceRB = make("OnceRB", "Once", EveryOnce);
}

void TSetTimerFRM::buildPages() {
    auto page = [this](const char* name) {
        auto* sheet = new QWidget(PageControl1);
        sheet->setObjectName(QLatin1String(name));
        PageControl1->addWidget(sheet);
        return sheet;
    };

    QWidget* daily = page("TabSheet1");
    DaySpin = spinEdit("DaySpin", 1, 365, daily);
    DayTime = timePicker("DayTime", daily);
    auto* dailyLayout = new QVBoxLayout(daily);
    dailyLayout->addLayout(row({label("Every ", daily), DaySpin, label("Day(s)", daily)}));
    dailyLayout->addLayout(row({label("At", daily), DayTime}));
    dailyLayout->addStretch();

    QWidget* weekly = page("TabSheet2");
    WeekSpin = spinEdit("WeekSpin", 1, 52, weekly);
    WeekTime = timePicker("WeekTime", weekly);
    const char* const dayNames[7][2] = {{"SunCB", "Sun"}, {"MonCB", "Mon"}, {"TueCB", "Tue"},
                                        {"WedCB", "Wed"}, {"TruCB", "Tru"}, {"FriCB", "Fri"},
                                        {"SatCB", "Sat"}};
    auto* days = new QHBoxLayout;
    days->addWidget(label("On", weekly));
    for (int day = 0; day < 7; ++day) {
        DayBoxes[day] = new QCheckBox(QString::fromLatin1(dayNames[day][1]), weekly);
        DayBoxes[day]->setObjectName(QLatin1String(dayNames[day][0]));
        days->addWidget(DayBoxes[day]);
    }
    days->addStretch();
    auto* weeklyLayout = new QVBoxLayout(weekly);
    weeklyLayout->addLayout(row({label("Every ", weekly), WeekSpin, label("Week(s)", weekly)}));
    weeklyLayout->addLayout(days);
    weeklyLayout->addLayout(row({label("At", weekly), WeekTime}));
    weeklyLayout->addStretch();

    QWidget* monthly = page("Month");
    // From 0, so that a cleared field reads 0 and is refused rather than stored as day 1.
    MonthSpin = spinEdit("MonthSpin", 0, 31, monthly);
    MonthTime = timePicker("MonthTime", monthly);
    const char* const monthNames[12][2] = {{"JanCB", "Jan"},   {"FebCB", "Feb"}, {"MarCB", "Mar"},
                                           {"AprCB", "Apr"},   {"MayCB", "May"}, {"JuneCB", "June"},
                                           {"JulyCB", "July"}, {"AugCB", "Aug"}, {"SepCB", "Sep"},
                                           {"OctCB", "Oct"},   {"NovCB", "Nov"}, {"DecCB", "Dec"}};
    auto* months = new QGridLayout;
    months->addWidget(label("Of", monthly), 0, 0, Qt::AlignTop);
    for (int month = 0; month < 12; ++month) {
        MonthBoxes[month] = new QCheckBox(QString::fromLatin1(monthNames[month][1]), monthly);
        MonthBoxes[month]->setObjectName(QLatin1String(monthNames[month][0]));
        months->addWidget(MonthBoxes[month], month / 4, 1 + month % 4);
    }
    months->setColumnStretch(5, 1);
    auto* monthlyLayout = new QVBoxLayout(monthly);
    monthlyLayout->addLayout(row({label("On the ", monthly), MonthSpin, label("day", monthly)}));
    monthlyLayout->addLayout(months);
    monthlyLayout->addLayout(row({label("At", monthly), MonthTime}));
    monthlyLayout->addStretch();

    QWidget* yearly = page("Year");
    YearDate = datePicker("YearDate", yearly);
    YearTime = timePicker("YearTime", yearly);
    auto* yearlyLayout = new QVBoxLayout(yearly);
    yearlyLayout->addLayout(row({label("Every ", yearly), YearDate}));
    yearlyLayout->addLayout(row({label("At", yearly), YearTime}));
    yearlyLayout->addStretch();

    QWidget* once = page("Once");
    OnceDate = datePicker("OnceDate", once);
    OnceTime = timePicker("OnceTime", once);
    auto* onceLayout = new QVBoxLayout(once);
    onceLayout->addLayout(row({label("On", once), OnceDate}));
    onceLayout->addLayout(row({label("At", once), OnceTime}));
    onceLayout->addStretch();
}

quint8 TSetTimerFRM::selectedTask() const {
    return quint8(std::max(taskButtons->checkedId(), 0));
}

quint8 TSetTimerFRM::selectedEvery() const {
    return quint8(std::max(everyButtons->checkedId(), 0));
}

// Every task button names the task in the page frame, Reboot and Pulse included.
void TSetTimerFRM::UpdateTaskCaption() {
    if (QAbstractButton* selected = taskButtons->checkedButton())
        GroupBox3->setTitle(QLatin1Char(' ') + selected->text() + QLatin1Char(' '));
}

void TSetTimerFRM::ShowEveryPage() {
    PageControl1->setCurrentIndex(selectedEvery());
}

void TSetTimerFRM::PrepareNewTimer() {
    PowerOnRB->setChecked(true);
    DayRB->setChecked(true);
    UpdateTaskCaption();
    ShowEveryPage();

    const QDateTime now = Clock::now();
    const QTime time = withoutMilliseconds(now.time());
    DaySpin->setValue(1);
    DayTime->setTime(time);
    WeekSpin->setValue(1);
    for (QCheckBox* box : DayBoxes)
        box->setChecked(false);
    WeekTime->setTime(time);
    MonthSpin->setValue(1);
    for (QCheckBox* box : MonthBoxes)
        box->setChecked(false);
    MonthTime->setTime(time);
    YearDate->setDate(now.date());
    YearTime->setTime(time);
    OnceDate->setDate(now.date());
    OnceTime->setTime(time);

    CloseFiltered(TimerTable);
    IsNew = true;
}

void TSetTimerFRM::LoadTimer(quint16 timerIndex) {
    OpenByTimerIndex(TimerTable, timerIndex);
    TTimerRecord record;
    try {
        if (TimerTable.eof())
            throw TimerRecordError(QStringLiteral("Timer %1 no longer exists").arg(timerIndex));
        record = ReadTimerRecord(TimerTable);
    } catch (...) {
        TimerTable.close();
        throw;
    }
    TimerTable.close();

    taskButtons->button(record.task)->setChecked(true);
    everyButtons->button(record.every)->setChecked(true);
    UpdateTaskCaption();
    ShowEveryPage();
    switch (record.every) {
    case EveryDay:
        DaySpin->setValue(record.count);
        DayTime->setTime(record.timeOfDay);
        break;
    case EveryWeek: {
        WeekSpin->setValue(record.count);
        WeekTime->setTime(record.timeOfDay);
        const DayTicks ticked = BoxesFromDayMask(record.dayOfWeek);
        for (size_t day = 0; day < ticked.size(); ++day)
            DayBoxes[day]->setChecked(ticked[day]);
        break;
    }
    case EveryMonth: {
        MonthSpin->setValue(record.count);
        MonthTime->setTime(record.timeOfDay);
        const MonthTicks ticked = BoxesFromMonthMask(record.month);
        for (size_t month = 0; month < ticked.size(); ++month)
            MonthBoxes[month]->setChecked(ticked[month]);
        break;
    }
    case EveryYear:
        YearDate->setDate(record.date);
        YearTime->setTime(record.timeOfDay);
        break;
    default:
        OnceDate->setDate(record.date);
        OnceTime->setTime(record.timeOfDay);
        break;
    }
    loadedTimer = timerIndex;
    loaded = record;
    IsNew = false;
}

int TSetTimerFRM::ShowModalFor(quint16 unitIndex) {
    UnitIndex = unitIndex;
    return exec() == mrOk ? mrOk : mrCancel;
}

void TSetTimerFRM::showEvent(QShowEvent* event) {
    UpdateTaskCaption();
    ShowEveryPage();
    QDialog::showEvent(event);
}

void TSetTimerFRM::Button1Click() {
    try {
        // A number still being typed counts as typed, pulled into its range.
        for (TSpinEdit* spin : {DaySpin, WeekSpin, MonthSpin})
            spin->interpretText();
        if (selectedEvery() == EveryWeek && dayMask() == 0)
            return refuse(this, QStringLiteral("Tick at least one day."));
        if (selectedEvery() == EveryMonth && monthMask() == 0)
            return refuse(this, QStringLiteral("Tick at least one month."));
        if (selectedEvery() == EveryMonth && MonthSpin->value() < 1)
            return refuse(this, QStringLiteral("Enter a day of the month from 1 to 31."));
        SaveTimer();
    } catch (const std::exception& error) {
        reportException(error);
        return;
    }
    done(mrOk);
}

quint16 TSetTimerFRM::dayMask() const {
    DayTicks ticked{};
    for (size_t day = 0; day < ticked.size(); ++day)
        ticked[day] = DayBoxes[day]->isChecked();
    return DayMaskFromBoxes(ticked);
}

quint16 TSetTimerFRM::monthMask() const {
    MonthTicks ticked{};
    for (size_t month = 0; month < ticked.size(); ++month)
        ticked[month] = MonthBoxes[month]->isChecked();
    return MonthMaskFromBoxes(ticked);
}

void TSetTimerFRM::Button2Click() {
    reject();
}

void TSetTimerFRM::SaveTimer() {
    TTimerRecord record;
    record.index = UnitIndex;
    record.task = selectedTask();
    record.every = selectedEvery();
    record.date = Clock::today();
    switch (record.every) {
    case EveryDay:
        record.count = DaySpin->value();
        record.timeOfDay = DayTime->time();
        break;
    case EveryWeek:
        record.count = WeekSpin->value();
        record.timeOfDay = WeekTime->time();
        record.dayOfWeek = dayMask();
        // An edit that keeps the interval keeps the rhythm's weeks where they were.
        if (!IsNew && loaded.every == EveryWeek && loaded.count == record.count)
            record.date = WeeklyRestartDate(record.count, loaded.date, record.date);
        break;
    case EveryMonth:
        record.count = MonthSpin->value();
        record.timeOfDay = MonthTime->time();
        record.month = monthMask();
        break;
    case EveryYear:
        record.timeOfDay = YearTime->time();
        record.date = YearDate->date();
        // The day asked for, kept when the date is left as loaded: a 29 February that shows as
        // 28 February in a common year stays the 29th.
        record.count = record.date.day();
        if (!IsNew && loaded.every == EveryYear && loaded.date == record.date &&
            loaded.count >= record.date.day() && loaded.count <= 31)
            record.count = loaded.count;
        break;
    default:
        record.timeOfDay = OnceTime->time();
        record.date = OnceDate->date();
        break;
    }

    try {
        if (IsNew) {
            CloseFiltered(TimerTable);
            TimerTable.open();
            TimerTable.append();
        } else {
            OpenByTimerIndex(TimerTable, loadedTimer);
            if (TimerTable.eof())
                throw TimerRecordError(
                    QStringLiteral("Timer %1 no longer exists; the changes were not saved")
                        .arg(loadedTimer));
            TimerTable.edit();
        }
        TimerTable.fieldByName(QStringLiteral("Index")).setInteger(record.index);
        TimerTable.fieldByName(QStringLiteral("Task")).setInteger(record.task);
        TimerTable.fieldByName(QStringLiteral("Every")).setInteger(record.every);
        TimerTable.fieldByName(QStringLiteral("Count")).setInteger(record.count);
        TimerTable.fieldByName(QStringLiteral("TimeOfDay"))
            .setString(TimerTimeText(withoutMilliseconds(record.timeOfDay)));
        TimerTable.fieldByName(QStringLiteral("DayOfWeek")).setInteger(record.dayOfWeek);
        TimerTable.fieldByName(QStringLiteral("Month")).setInteger(record.month);
        TimerTable.fieldByName(QStringLiteral("Date")).setString(TimerDateText(record.date));
        TimerTable.post();
        TimerTable.flushBuffers();
    } catch (...) {
        TimerTable.close();
        throw;
    }
    TimerTable.close();
}

} // namespace kavio
