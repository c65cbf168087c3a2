#include "StatusLine.h"

#include "CommandEngine.h"
#include "Database.h"
#include "Exception.h"
#include "Main.h"
#include "TickGuard.h"

#include <QLabel>
#include <QPainter>
#include <QSqlQuery>
#include <QStatusBar>
#include <QTimer>
#include <cmath>

namespace kavio {
namespace {

// A field of the status bar that gives way when the window is narrow: its text is cut short
// with an ellipsis (the whole of it in the tooltip) instead of making the window wider than
// the operator left it.
class FieldLabel : public QLabel {
public:
    FieldLabel() { setTextFormat(Qt::PlainText); }
    QSize minimumSizeHint() const override {
        return {fontMetrics().horizontalAdvance(QStringLiteral("0000")),
                QLabel::minimumSizeHint().height()};
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QRect room = contentsRect();
        painter.drawText(room, Qt::AlignLeft | Qt::AlignVCenter,
                         fontMetrics().elidedText(text(), Qt::ElideRight, room.width()));
    }
};

// Shows a field's text, the whole of it also in the tooltip; an empty field takes no room.
void setField(QLabel* field, const QString& text) {
    field->setText(text);
    field->setToolTip(text);
    field->setVisible(!text.isEmpty());
}

} // namespace

TStatusLine::TStatusLine(TKavioCCMain& main, TCommandEngine& engine)
    : QObject(&main)
    , Counts(new FieldLabel)
    , Ticked(new FieldLabel)
    , Queue(new FieldLabel)
    , Main(main)
    , Engine(engine)
    , refreshTimer(new QTimer(this))
    , queueTimer(new QTimer(this)) {
    QStatusBar* bar = Main.statusBar();
    bar->addPermanentWidget(Queue);
    bar->addPermanentWidget(Ticked);
    bar->addPermanentWidget(Counts);

    refreshTimer->setSingleShot(true);
    refreshTimer->setInterval(RefreshMs);
    connect(refreshTimer, &QTimer::timeout, this, &TStatusLine::refresh);
    // Entries are queued without a signal: the queue's field looks while it may be worked.
    queueTimer->setInterval(RefreshMs);
    connect(queueTimer, &QTimer::timeout, this, &TStatusLine::refreshQueue);
    queueTimer->start();

    connect(&Engine, &TCommandEngine::statusChanged, this, &TStatusLine::later);
    connect(&Engine, &TCommandEngine::exchangeFinished, this, &TStatusLine::exchangeFinished);
    KavioListModel* lines = Main.KavioList->lines();
    connect(lines, &QAbstractItemModel::modelReset, this, &TStatusLine::later);
    connect(lines, &QAbstractItemModel::rowsInserted, this, &TStatusLine::later);
    connect(lines, &QAbstractItemModel::dataChanged, this, &TStatusLine::later);
    refresh();
}

void TStatusLine::later() {
    if (!refreshTimer->isActive())
        refreshTimer->start();
}

void TStatusLine::refresh() {
    refreshTimer->stop();
    refreshCounts();
    refreshTicked();
    refreshQueue();
}

QString TStatusLine::countsText(const int byStatus[6]) {
    int units = 0;
    for (int status = 0; status < 6; ++status)
        units += byStatus[status];
    QString text = units == 1 ? QStringLiteral("1 unit") : QStringLiteral("%1 units").arg(units);
    if (units == 0)
        return text;
    text += QStringLiteral(": %1 on, %2 off, %3 unreachable, %4 unknown, %5 busy")
                .arg(byStatus[StatusOn])
                .arg(byStatus[StatusOff])
                .arg(byStatus[StatusError])
                .arg(byStatus[StatusUnknown])
                .arg(byStatus[StatusBusy]);
    if (byStatus[StatusCycle] > 0)
        text += QStringLiteral(", %1 cycling").arg(byStatus[StatusCycle]);
    return text;
}

void TStatusLine::refreshCounts() {
    int byStatus[6] = {0, 0, 0, 0, 0, 0};
    try {
        QSqlQuery query(Database::connection());
        query.setForwardOnly(true);
        // A status outside the known codes reads as unknown, as the list draws it.
        if (query.exec(QStringLiteral(
                "SELECT \"Status\", count(*) FROM \"Master\" WHERE \"Group\" = 0 AND "
                "\"Index\" BETWEEN 1 AND 65535 GROUP BY \"Status\""))) {
            while (query.next()) {
                const qint64 status = query.value(0).toLongLong();
                byStatus[status >= 0 && status < 6 ? int(status) : int(StatusUnknown)] +=
                    query.value(1).toInt();
            }
        }
    } catch (const Exception&) {
        return; // no database: the field keeps what it showed
    }
    setField(Counts, countsText(byStatus));
}

void TStatusLine::refreshTicked() {
    const int units = CountTicked(Main).units;
    setField(Ticked, units == 0 ? QString() : QStringLiteral("%1 ticked").arg(units));
}

QString TStatusLine::queueText(bool polling, int position, int total, qint64 msLeft) {
    const qint64 seconds = (msLeft + 999) / 1000;
    const QString left = seconds < 90
                             ? QStringLiteral("about %1 s left").arg(seconds)
                             : QStringLiteral("about %1 min left").arg((seconds + 30) / 60);
    return QStringLiteral("%1 %2 of %3, %4")
        .arg(polling ? QStringLiteral("Polling") : QStringLiteral("Sending"))
        .arg(position)
        .arg(total)
        .arg(left);
}

void TStatusLine::exchangeFinished(const TCommandResult&) {
    if (!runClock.isValid())
        runClock.start();
    ++done;
}

void TStatusLine::refreshQueue() {
    // Here, or in the service this window follows.
    const int waiting = Engine.queueLength();
    if (waiting == 0) {
        runClock.invalidate();
        done = 0;
        setField(Queue, QString());
        return;
    }
    if (!runClock.isValid())
        runClock.start();
    const int total = done + waiting;
    // Each entry costs at least the pause after it and at most the reply's wait; until the first
    // one ends, the mean of the two stands for it.
    const double perEntry = done > 0 ? double(runClock.elapsed()) / done
                                     : TCommandEngine::PauseMs + TCommandEngine::ReplyLimitMs / 2.0;
    const CommandSource head = Engine.queueHead();
    const bool polling = head == CommandSource::Poll || head == CommandSource::TimedPoll;
    setField(Queue,
             queueText(polling, done + 1, total, qint64(std::llround(perEntry * double(waiting)))));
}

} // namespace kavio
