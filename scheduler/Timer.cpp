#include "Timer.h"

#include "Clock.h"
#include "CommandEngine.h"
#include "Database.h"
#include "Exception.h"
#include "GlobalFunctions.h"
#include "LCDScreen.h"
#include "NameOrder.h"
#include "Recurrence.h"
#include "TimerRecord.h"

#include <QListWidget>
#include <QPushButton>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>
#include <algorithm>

namespace kavio {
namespace {

constexpr int ClientWidth = 525;
constexpr int ClientHeight = 316;
constexpr int ListWidth = 289;
constexpr int ItemHeight = 13; // with an 11-pixel font, as the dialogs use
constexpr int Margin = 8;
constexpr int KeyRole = Qt::UserRole;

// Today's events: identical timers merged, in the order they fire. The lowest key of a merged
// row names it in messages.
// The tick asks only for the rows of its minute: TimeOfDay from "HH:MM" up to the next minute.
const char* const SelectSql =
    R"(SELECT MIN("TimerIndex"), "Index", "Task", "TimeOfDay", "Date", "Every"
FROM "Timer" WHERE "Date" = ?%1
GROUP BY "Index", "Task", "TimeOfDay", "Date", "Every"
ORDER BY "TimeOfDay", "Task", "Index", "Date")";
const char* const MinuteFilter = R"( AND "TimeOfDay" >= ? AND "TimeOfDay" < ?)";

const char* const DateIndexSql =
    R"(CREATE INDEX IF NOT EXISTS "TimerByDate" ON "Timer" ("Date", "TimeOfDay"))";

// Today's rows, or with `minute` only those of that minute.
std::vector<TTimerFrm::TEventRow> selectRows(const QDate& day, const QTime& minute = QTime()) {
    QSqlQuery query(Database::connection());
    query.setForwardOnly(true);
    query.prepare(QString::fromLatin1(SelectSql).arg(minute.isValid() ? QLatin1String(MinuteFilter)
                                                                      : QLatin1String()));
    query.addBindValue(TimerDateText(day));
    if (minute.isValid()) {
        // "HH:60" sorts after every time of the hour's last minute.
        query.addBindValue(minute.toString(QStringLiteral("HH:mm")));
        query.addBindValue(QStringLiteral("%1:%2")
                               .arg(minute.hour(), 2, 10, QLatin1Char('0'))
                               .arg(minute.minute() + 1, 2, 10, QLatin1Char('0')));
    }
    if (!query.exec())
        throw DatabaseError(QStringLiteral("Table Timer.DB: today's events cannot be read: %1")
                                .arg(query.lastError().text()));
    std::vector<TTimerFrm::TEventRow> rows;
    while (query.next())
        rows.push_back({query.value(0), query.value(1), query.value(2), query.value(3),
                        query.value(4), query.value(5)});
    return rows;
}

QString keyOf(const TTimerFrm::TEventRow& row) {
    return QStringList{row.index.toString(), row.task.toString(), row.timeOfDay.toString(),
                       row.date.toString(), row.every.toString()}
        .join(QChar(0x1f));
}

QString whoOf(const TTimerFrm::TEventRow& row) {
    return QStringLiteral("Timer %1").arg(row.timerIndex.toString());
}

qint64 minuteNumber(const QDate& date, const QTime& time) {
    return date.toJulianDay() * 1440 + time.hour() * 60 + time.minute();
}

} // namespace

TTimerFrm::TTimerFrm(TCommandEngine& commandProcessor, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
    , processor(commandProcessor) {
    setFixedSize(ClientWidth, ClientHeight);

    EventDisplay = new QListWidget(this);
    EventDisplay->setObjectName(QStringLiteral("EventDisplay"));
    EventDisplay->setGeometry(0, 0, ListWidth, ClientHeight);
    EventDisplay->setUniformItemSizes(true);
    QFont itemFont = EventDisplay->font();
    itemFont.setPixelSize(11);
    EventDisplay->setFont(itemFont);
    EventDisplay->setSelectionMode(QAbstractItemView::NoSelection);

    LCD = new lcd::TLCDScreen(this);
    LCD->setObjectName(QStringLiteral("LCD"));
    LCD->setPixelSize(lcd::pix2x2);
    LCD->setPixelSpacing(1);
    LCD->setBorderSpace(3);
    LCD->setBorderStyle(lcd::bsLowered);
    LCD->setColor(Qt::black);
    LCD->setFontColor(QColor(255, 0, 0));
    LCD->setPixelOff(QColor(128, 0, 0));
    LCD->setIntensity(127);
    LCD->setDisplayMode(lcd::dmText);
    LCD->setAnimationEnabled(false);
    QFont clockFont(QStringLiteral("DejaVu Sans Mono"));
    clockFont.setPixelSize(10); // "12:00:00 am" fits the 72 columns
    clockFont.setStyleStrategy(QFont::NoAntialias);
    LCD->setFont(clockFont);
    LCD->setGeometry(ClientWidth - Margin - 221, Margin, 221, 53);
    LCD->setLinesXOffset(2);
    LCD->setLinesYOffset(3);
    LCD->setLines({QStringLiteral("00:00:00 PM")});

    Button1 = new QPushButton(QStringLiteral("Close"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(ClientWidth - Margin - 75, ClientHeight - Margin - 25, 75, 25);
    connect(Button1, &QPushButton::clicked, this, &TTimerFrm::Button1Click);

    // The per-minute selection looks timers up by date.
    QSqlQuery(Database::connection()).exec(QLatin1String(DateIndexSql));

    const QDateTime now = Clock::now();
    currentDay = now.date();
    recalculate(now);
    try {
        SelectTodaysEvents();
        ShowTodaysEvents();
    } catch (const std::exception& error) {
        report(error);
    }

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setTimerType(Qt::PreciseTimer);
    Timer1->setInterval(TickMs);
    connect(Timer1, &QTimer::timeout, this, &TTimerFrm::Timer1Timer);
    Timer1->start();
}

void TTimerFrm::SelectTodaysEvents() {
    const QDate today = Clock::today();
    setWindowTitle(DateFilterLine(today));
    rows.clear();
    rows = selectRows(today);
}

void TTimerFrm::ShowTodaysEvents() {
    EventDisplay->clear();
    for (const TEventRow& row : rows) {
        quint16 index = 0;
        quint8 task = 0;
        QTime time;
        try {
            index = quint16(TimerInteger(row.index, whoOf(row), "Index", 0, 65535));
            task = quint8(TimerInteger(row.task, whoOf(row), "Task", 0, 4));
            time = TimerTime(row.timeOfDay, whoOf(row));
        } catch (const TimerRecordError& error) {
            report(error);
            continue;
        }
        QString taskName;
        TaskName(task, taskName);
        auto* item = new QListWidgetItem(nameOf(index) + QLatin1Char(' ') + taskName +
                                             QStringLiteral(" at ") + TwelveHourTime(time),
                                         EventDisplay);
        const QString key = keyOf(row);
        item->setFlags(Qt::ItemIsEnabled);
        item->setSizeHint(QSize(0, ItemHeight));
        item->setData(KeyRole, key);
        item->setCheckState(firedToday.contains(key) ? Qt::Checked : Qt::Unchecked);
    }
}

void TTimerFrm::RefreshTimers() {
    EventDisplay->clear();
    const QDateTime now = Clock::now();
    rebuildDay(now.date(), now);
}

// Today's list made anew for `day`, with the next event dates as they stand at `asOf`.
void TTimerFrm::rebuildDay(const QDate& day, const QDateTime& asOf) {
    if (day != currentDay)
        firedToday.clear();
    currentDay = day;
    reported.clear();
    recalculate(asOf);
    try {
        SelectTodaysEvents();
        ShowTodaysEvents();
    } catch (const std::exception& error) {
        report(error);
    }
}

void TTimerFrm::recalculate(const QDateTime& now) {
    try {
        RecalcTimerDates(now);
    } catch (const std::exception& error) {
        report(error);
    }
}

void TTimerFrm::Timer1Timer() {
    const QDateTime now = Clock::now();
    QStringList lines = LCD->Lines();
    if (lines.isEmpty())
        lines << QString();
    lines[0] = ClockText(now.time());
    LCD->setLines(lines);

    if (now.date() != currentDay)
        startNewDay(now.date());

    const qint64 minute = minuteNumber(now.date(), now.time());
    if (minute <= lastMinute)
        return;
    lastMinute = minute;
    try {
        fireMinute(now);
    } catch (const std::exception& error) {
        report(error);
    }
}

// The first tick of a day: the next event dates are recomputed as they stood when the day began,
// so that nothing of the new day counts as passed yet, not even the minute of this tick.
void TTimerFrm::startNewDay(const QDate& day) {
    rebuildDay(day, QDateTime(day.addDays(-1), QTime(23, 59, 59, 999)));
}

void TTimerFrm::fireMinute(const QDateTime& now) {
    for (const TEventRow& row : selectRows(now.date(), now.time())) {
        try {
            const QTime time = TimerTime(row.timeOfDay, whoOf(row));
            if (time.hour() != now.time().hour() || time.minute() != now.time().minute())
                continue;
            const auto index = quint16(TimerInteger(row.index, whoOf(row), "Index", 0, 65535));
            const auto task = quint8(TimerInteger(row.task, whoOf(row), "Task", 0, 4));
            const QString key = keyOf(row);
            firedToday.insert(key);
            for (int position = 0; position < EventDisplay->count(); ++position) {
                QListWidgetItem* item = EventDisplay->item(position);
                if (item->data(KeyRole).toString() == key)
                    item->setCheckState(Qt::Checked);
            }
            fire(index, task);
        } catch (const std::exception& error) {
            report(error);
        }
    }
}

// Queues the task for a unit, or for each member of a group in name order; a key that names no
// record queues nothing.
void TTimerFrm::fire(quint16 index, quint8 task) {
    OpenByIndex(MasterTable, index);
    const bool exists = !MasterTable.eof();
    const bool group = exists && MasterTable.fieldByName(QStringLiteral("Group")).asBoolean();
    CloseFiltered(MasterTable);
    if (!exists)
        return;
    if (!group) {
        processor.AddToQueue(index, task);
        return;
    }

    QList<quint16> keys;
    OpenByGroupIndex(GroupTable, index);
    for (; !GroupTable.eof(); GroupTable.next()) {
        const qint64 key = GroupTable.fieldByName(QStringLiteral("Index")).asInteger();
        if (key > 0 && key <= 65535 && !keys.contains(quint16(key)))
            keys << quint16(key);
    }
    CloseFiltered(GroupTable);

    struct Member {
        QString name;
        quint16 index;
    };
    std::vector<Member> members;
    for (quint16 key : std::as_const(keys)) {
        OpenByIndex(MasterTable, key);
        if (!MasterTable.eof() && !MasterTable.fieldByName(QStringLiteral("Group")).asBoolean())
            members.push_back({MasterTable.fieldByName(QStringLiteral("Name")).asString(), key});
        CloseFiltered(MasterTable);
    }
    // The list's order: by key first, so that equal names stay by key.
    std::sort(members.begin(), members.end(),
              [](const Member& a, const Member& b) { return a.index < b.index; });
    sortByName(members, [](const Member& member) { return member.name; });
    for (const Member& member : members)
        processor.AddToQueue(member.index, task);
}

QString TTimerFrm::nameOf(quint16 index) {
    OpenByIndex(MasterTable, index);
    const QString name =
        MasterTable.eof() ? QString() : MasterTable.fieldByName(QStringLiteral("Name")).asString();
    CloseFiltered(MasterTable);
    return name;
}

// Each problem (one line of a message) is told once, until the timers are refreshed or a new
// day begins.
void TTimerFrm::report(const std::exception& error) {
    QStringList fresh;
    for (const QString& line : QString::fromUtf8(error.what()).split(QLatin1Char('\n'))) {
        if (!reported.contains(line))
            fresh << line;
        reported.insert(line);
    }
    if (!fresh.isEmpty())
        reportException(Exception(fresh.join(QLatin1Char('\n'))));
}

void TTimerFrm::Button1Click() {
    close();
}

void TTimerFrm::showEvent(QShowEvent* event) {
    try {
        SelectTodaysEvents();
        ShowTodaysEvents();
    } catch (const std::exception& error) {
        report(error);
    }
    QDialog::showEvent(event);
}

} // namespace kavio
