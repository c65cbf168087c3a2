#include "StatusLine.h"

#include "CommandEngine.h"
#include "Exception.h"
#include "KavioList.h"
#include "StatusCounts.h"
#include "StatusWords.h"
#include "TickGuard.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <algorithm>
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
    if (field->text() == text)
        return;
    field->setText(text);
    field->setToolTip(text);
    field->setVisible(!text.isEmpty());
}

} // namespace

TStatusLine::TStatusLine(QStatusBar& bar, KavioListView& list, TCommandEngine& engine,
                         QObject* parent)
    : QObject(parent)
    , Counts(new FieldLabel)
    , Ticked(new FieldLabel)
    , Queue(new FieldLabel)
    , m_bar(bar)
    , m_list(list)
    , Engine(engine)
    , refreshTimer(new QTimer(this))
    , queueTimer(new QTimer(this)) {
    bar.addPermanentWidget(Queue);
    bar.addPermanentWidget(Ticked);
    bar.addPermanentWidget(Counts);

    refreshTimer->setSingleShot(true);
    refreshTimer->setInterval(RefreshMs);
    connect(refreshTimer, &QTimer::timeout, this, &TStatusLine::refresh);
    // Entries are queued without a signal: the queue's field looks while it may be worked.
    queueTimer->setInterval(RefreshMs);
    connect(queueTimer, &QTimer::timeout, this, &TStatusLine::refreshQueue);
    queueTimer->start();

    connect(&bar, &QStatusBar::messageChanged, this, &TStatusLine::arrangeFields);
    bar.installEventFilter(this);

    connect(&Engine, &TCommandEngine::statusChanged, this, &TStatusLine::later);
    connect(&Engine, &TCommandEngine::exchangeFinished, this, &TStatusLine::exchangeFinished);
    const KavioListModel* lines = list.lines();
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

bool TStatusLine::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize && watched == &m_bar)
        arrangeFields();
    return QObject::eventFilter(watched, event);
}

void TStatusLine::arrangeFields() {
    const QStatusBar* bar = &m_bar;
    const QString message = bar->currentMessage();
    // The shorter fields keep their texts longest; the counts give way first.
    const QList<QLabel*> fields = {Ticked, Queue, Counts};
    if (message.isEmpty()) {
        for (QLabel* field : fields) {
            if (field->sizePolicy().horizontalPolicy() != QSizePolicy::Preferred)
                field->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
            if (field->maximumWidth() != QWIDGETSIZE_MAX)
                field->setMaximumWidth(QWIDGETSIZE_MAX);
        }
        return;
    }
    // The bar's margins and the gaps between its items, and the size grip, generously.
    const int gap = bar->fontMetrics().averageCharWidth() * 2;
    int room = bar->width() - bar->fontMetrics().horizontalAdvance(message) - 2 * gap;
    if (bar->isSizeGripEnabled())
        room -= bar->style()->pixelMetric(QStyle::PM_SizeGripSize, nullptr, bar) + gap;
    for (QLabel* field : fields) {
        const int given = field->text().isEmpty()
                              ? 0
                              : std::clamp(room - gap, 0, field->QLabel::sizeHint().width());
        // Ignored: the field may shrink to nothing, and is given no more than its share.
        if (field->sizePolicy().horizontalPolicy() != QSizePolicy::Ignored)
            field->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        if (field->maximumWidth() != given)
            field->setMaximumWidth(given);
        if (given > 0)
            room -= given + gap;
    }
}

QString TStatusLine::countsText(const int byStatus[6]) {
    int units = 0;
    for (int status = 0; status < 6; ++status)
        units += byStatus[status];
    QString text = units == 1 ? QStringLiteral("1 unit") : QStringLiteral("%1 units").arg(units);
    if (units == 0)
        return text;
    QStringList counts;
    for (int status : {StatusOn, StatusOff, StatusError, StatusUnknown, StatusBusy})
        counts << QStringLiteral("%1 %2").arg(byStatus[status]).arg(statusName(status));
    if (byStatus[StatusCycle] > 0)
        counts << QStringLiteral("%1 %2").arg(byStatus[StatusCycle]).arg(statusName(StatusCycle));
    text += QStringLiteral(": ") + counts.join(QStringLiteral(", "));
    return text;
}

void TStatusLine::refreshCounts() {
    std::array<int, 6> byStatus{};
    try {
        byStatus = unitsByStatus();
    } catch (const Exception&) {
        return; // no database: the field keeps what it showed
    }
    setField(Counts, countsText(byStatus.data()));
}

void TStatusLine::refreshTicked() {
    const int units = CountTicked(m_list).units;
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

// Last of the fields (refresh() ends here, and the queue's timer calls it alone): the room a
// message leaves them is shared out anew from their texts.
void TStatusLine::refreshQueue() {
    // Here, or in the service this window follows.
    const int waiting = Engine.queueLength();
    if (waiting == 0) {
        runClock.invalidate();
        done = 0;
        setField(Queue, QString());
        arrangeFields();
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
    arrangeFields();
}

} // namespace kavio
