#include "Timer.h"
#include "TimerFiring.h"

#include "Clock.h"
#include "CommandEngine.h"
#include "Exception.h"
#include "GlobalFunctions.h"
#include "LCDScreen.h"
#include "NameOrder.h"
#include "Recurrence.h"
#include "TextFit.h"
#include "TimerRecord.h"
#include "WindowPlacement.h"

#include <QHash>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QShowEvent>
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
// The clock's font is never made smaller than this, whatever the display.
constexpr int MinClockPixels = 6;

// The ink of a dot image: its first and last lit column and row.
QRect inkOf(const lcd::TDotImage& image) {
    QRect ink;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.row(y)[x])
                ink |= QRect(x, y, 1, 1);
    return ink;
}

} // namespace

TTimerFrm::TTimerFrm(TCommandEngine& commandProcessor, QWidget* parent)
    : TTimerFrm(commandProcessor, Firing::Here, parent) {}

TTimerFrm::TTimerFrm(TCommandEngine& commandProcessor, Firing where, QWidget* parent)
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
    LCD->setGeometry(ClientWidth - Margin - 221, Margin, 221, 53);
    fitClock();
    LCD->setLines({QStringLiteral("00:00:00 PM")});

    Button1 = new QPushButton(QStringLiteral("Close"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    fitButtonsToCaptions({Button1}, {75, 25}); // larger with a larger font
    Button1->move(ClientWidth - Margin - Button1->width(),
                  ClientHeight - Margin - Button1->height());
    connect(Button1, &QPushButton::clicked, this, &TTimerFrm::Button1Click);

    if (where == Firing::Here)
        fireHere();
    rebuildList();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setTimerType(Qt::PreciseTimer);
    Timer1->setInterval(TickMs);
    connect(Timer1, &QTimer::timeout, this, &TTimerFrm::Timer1Timer);
    Timer1->start();
}

// The largest clock that fits the display, centred: the widest time sets the size and the left
// edge, the digits (not the descender of "pm") the height.
void TTimerFrm::fitClock() {
    QFont clockFont(QStringLiteral("DejaVu Sans"));
    clockFont.setStyleStrategy(QFont::NoAntialias);
    const QStringList widest{ClockText(QTime(12, 0)), ClockText(QTime(0, 0))};
    QRect ink;
    QRect digits;
    for (int pixels = LCD->Rows(); pixels >= MinClockPixels; --pixels) {
        clockFont.setPixelSize(pixels);
        LCD->setFont(clockFont);
        ink = QRect();
        for (const QString& text : widest) {
            LCD->setLines({text});
            ink |= inkOf(LCD->TextImage());
        }
        digits = inkOf(LCD->TextImage()); // "12:00:00 am": no descender
        if (ink.width() <= LCD->Columns() && ink.height() <= LCD->Rows())
            break;
    }
    // A one-digit hour is centred on its own: the clock moves sideways twice a day, not every
    // second.
    QRect oneDigitInk;
    for (const QString& text : {ClockText(QTime(8, 0)), ClockText(QTime(20, 0))}) {
        LCD->setLines({text});
        oneDigitInk |= inkOf(LCD->TextImage());
    }
    clockXOffsets[0] = qint8((LCD->Columns() - oneDigitInk.width()) / 2 - oneDigitInk.left());
    clockXOffsets[1] = qint8((LCD->Columns() - ink.width()) / 2 - ink.left());
    LCD->setLinesXOffset(clockXOffsets[1]);
    LCD->setLinesYOffset(qint8(std::min((LCD->Rows() - digits.height()) / 2 - digits.top(),
                                        LCD->Rows() - 1 - ink.bottom())));
}

int TTimerFrm::missedAfterMinutes() {
    return TimerFiring::missedAfterMinutes();
}

void TTimerFrm::SelectTodaysEvents() {
    const QDate today = Clock::today();
    setWindowTitle(DateFilterLine(today));
    rows.clear();
    rows = TimerFiring::selectRows(today);
}

// The names come in one query; a timer whose unit is gone fires nothing and is not listed.
void TTimerFrm::ShowTodaysEvents() {
    clearList();
    QHash<qint64, QString> names;
    if (!rows.empty())
        names = timers::namesTimedOn(rows.front().date.toString());
    const QSet<QString> done = firing ? firing->served(Clock::today()) : servedElsewhere;
    for (const TEventRow& row : rows) {
        const QString who = TimerFiring::whoOf(row);
        quint16 index = 0;
        quint8 task = 0;
        QTime time;
        try {
            index = quint16(TimerInteger(row.index, who, "Index", 0, 65535));
            task = quint8(TimerInteger(row.task, who, "Task", 0, 4));
            time = TimerTime(row.timeOfDay, who);
        } catch (const TimerRecordError& error) {
            report(error);
            continue;
        }
        const auto name = names.constFind(index);
        if (name == names.constEnd())
            continue;
        QString taskName;
        TaskName(task, taskName);
        // Made whole before it joins the list, which then tells its view once.
        auto* item = new QListWidgetItem(*name + QLatin1Char(' ') + taskName +
                                         QStringLiteral(" at ") + TwelveHourTime(time));
        const QString key = TimerFiring::keyOf(row);
        item->setFlags(Qt::ItemIsEnabled);
        item->setSizeHint(QSize(0, ItemHeight));
        item->setData(KeyRole, key);
        item->setCheckState(done.contains(key) ? Qt::Checked : Qt::Unchecked);
        itemOf.insert(key, item);
        EventDisplay->addItem(item);
    }
}

void TTimerFrm::RefreshTimers() {
    clearList();
    if (firing)
        firing->refresh();
    rebuildList();
    if (firing)
        emit timersComputed();
    else
        emit timersEdited();
}

void TTimerFrm::fireHere() {
    if (firing)
        return;
    firing = new TimerFiring(processor, this);
    firing->markServed(Clock::today(), servedElsewhere);
    servedElsewhere.clear();
    connect(firing, &TimerFiring::fired, this, &TTimerFrm::tick);
    connect(firing, &TimerFiring::fired, this, &TTimerFrm::fired);
    connect(firing, &TimerFiring::dayBegan, this, &TTimerFrm::newDayList);
    connect(firing, &TimerFiring::dayBegan, this, &TTimerFrm::dayBegan);
}

void TTimerFrm::fireElsewhere(const QSet<QString>& servedToday) {
    delete firing;
    firing = nullptr;
    servedElsewhere = servedToday;
    rebuildList();
}

QSet<QString> TTimerFrm::servedToday() const {
    return firing ? firing->served(Clock::today()) : servedElsewhere;
}

void TTimerFrm::markFired(const QString& key) {
    if (firing)
        return;
    servedElsewhere.insert(key);
    tick(key);
}

// A hidden list is made anew when it is shown: only its caption follows the day at once.
void TTimerFrm::newDayList() {
    if (!firing)
        servedElsewhere.clear();
    if (isVisible()) {
        rebuildList();
        return;
    }
    clearList();
    rows.clear();
    setWindowTitle(DateFilterLine(Clock::today()));
}

void TTimerFrm::clearList() {
    itemOf.clear();
    EventDisplay->clear();
}

void TTimerFrm::rebuildList() {
    try {
        SelectTodaysEvents();
        ShowTodaysEvents();
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
    const int hour = now.time().hour() % 12;
    LCD->setLinesXOffset(clockXOffsets[hour == 0 || hour >= 10 ? 1 : 0]);
    LCD->setLines(lines);
    if (firing)
        firing->serveUpTo(now);
}

void TTimerFrm::tick(const QString& key) {
    if (QListWidgetItem* item = itemOf.value(key))
        item->setCheckState(Qt::Checked);
}

void TTimerFrm::report(const std::exception& error) {
    if (firing)
        firing->report(error);
    else
        emit processor.loggedLine(TLogLine{
            QDateTime::currentMSecsSinceEpoch(), {}, {}, 0, QString::fromUtf8(error.what())});
}

void TTimerFrm::Button1Click() {
    close();
}

void TTimerFrm::showEvent(QShowEvent* event) {
    rebuildList();
    QDialog::showEvent(event);
    if (!placed && !event->spontaneous()) {
        placed = true;
        WindowPlacement::restore(this, QStringLiteral("Runner"), false);
    }
}

void TTimerFrm::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (placed && !event->spontaneous())
        WindowPlacement::save(this, QStringLiteral("Runner"));
}

} // namespace kavio
