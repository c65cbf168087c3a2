#include "ConnectFailed.h"

#include "Clock.h"
#include "Codes.h"
#include "TextFit.h"
#include "WindowPlacement.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

namespace kavio {
namespace {

constexpr int LabelLeft = 52;
constexpr int LabelTop = 26;
constexpr int WidthBeyondLabel = 100;
constexpr int ClientHeight = 89;
constexpr int ButtonMargin = 8;
constexpr int MaxNameCharacters = 4096;
constexpr int ListedRows = 8;
constexpr int ListWidth = 300;

const QString Prefix = QStringLiteral("Could Not Connect to: ");

} // namespace

TConFail::TConFail()
    : QWidget(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowStaysOnTopHint)
    , Label1(new QLabel(this))
    , UnitList(new QListWidget(this))
    , Button1(new QPushButton(tr("Close"), this))
    , arrivalOfIndex(size_t(MaxUnitIndex) + 1, 0)
    , failed(size_t(MaxUnitIndex) + 1, 0)
    , redrawTimer(new QTimer(this)) {
    // A notice left open must not keep the program running once its main window is closed.
    setAttribute(Qt::WA_QuitOnClose, false);
    // No caption: the window title stays empty.

    QFont bold = Label1->font();
    bold.setBold(true);
    bold.setPixelSize(13);
    Label1->setFont(bold);
    Label1->setAlignment(Qt::AlignCenter);
    // Names come from the database: shown as they are, never as markup.
    Label1->setTextFormat(Qt::PlainText);
    Label1->move(LabelLeft, LabelTop);
    UnitList->setSelectionMode(QAbstractItemView::NoSelection);
    UnitList->setFocusPolicy(Qt::NoFocus);
    UnitList->setTextElideMode(Qt::ElideRight);
    // Long names are cut short (the whole name in the tooltip): a scroll bar would cover the
    // list's only line.
    UnitList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    fitButtonsToCaptions({Button1}, {75, 25});
    WindowPlacement::keepOnScreen(this);
    connect(Button1, &QPushButton::clicked, this, &TConFail::Button1Click);
    redrawTimer->setSingleShot(true);
    redrawTimer->setInterval(RedrawDelayMs);
    connect(redrawTimer, &QTimer::timeout, this, &TConFail::redraw);
}

TConFail& TConFail::notice() {
    // Not owned by any window: it outlives whichever window reported the first failure, and
    // the program's end takes it with it.
    static QPointer<TConFail> one;
    if (!one)
        one = new TConFail;
    return *one;
}

void TConFail::AddUnit(quint16 index, const QString& unitName, const QDateTime& when) {
    if (const quint64 earlier = arrivalOfIndex[index])
        byTime.erase(earlier);
    arrivalOfIndex[index] = ++arrivals;
    byTime.emplace(arrivals, Line{index, unitName.left(MaxNameCharacters), when});
    if (int(byTime.size()) > MaxLines) {
        arrivalOfIndex[byTime.begin()->second.index] = 0;
        byTime.erase(byTime.begin());
    }
    if (!failed[index]) {
        failed[index] = 1;
        ++failedCount;
    }
    // The first failure shows at once; the ones after it are gathered for a moment.
    if (!isVisible())
        redraw();
    else if (!redrawTimer->isActive())
        redrawTimer->start();
}

QStringList TConFail::lines() {
    redraw();
    QStringList shown;
    for (int row = 0; row < UnitList->count(); ++row)
        shown << UnitList->item(row)->text();
    return shown;
}

void TConFail::redraw() {
    redrawTimer->stop();
    if (byTime.empty())
        return;
    const int widest = screen()->availableGeometry().width() - WidthBeyondLabel;
    const QFontMetrics metrics(Label1->font());
    const QString subject = failedCount == 1 ? byTime.rbegin()->second.name
                                             : QStringLiteral("%1 units").arg(failedCount);
    // A name too long for the screen is cut short, so that the notice fits and Close stays in
    // reach.
    Label1->setText(Prefix + metrics.elidedText(subject, Qt::ElideRight,
                                                widest - metrics.horizontalAdvance(Prefix)));
    Label1->adjustSize();

    UnitList->setUpdatesEnabled(false);
    UnitList->clear();
    for (auto line = byTime.rbegin(); line != byTime.rend(); ++line) {
        auto* item = new QListWidgetItem(line->second.when.toString(QStringLiteral("HH:mm:ss")) +
                                         QStringLiteral("  ") + line->second.name);
        item->setToolTip(line->second.name);
        UnitList->addItem(item);
    }
    UnitList->setUpdatesEnabled(true);

    const int rowHeight = UnitList->fontMetrics().height() + 2;
    const int listHeight =
        rowHeight * std::min(lineCount(), ListedRows) + 2 * UnitList->frameWidth() + 2;
    const int width = std::max(Label1->width(), ListWidth) + WidthBeyondLabel;
    UnitList->setGeometry(LabelLeft, LabelTop + Label1->height() + ButtonMargin,
                          width - LabelLeft - 2 * ButtonMargin, listHeight);
    setFixedSize(std::min(width, widest + WidthBeyondLabel),
                 ClientHeight + listHeight + ButtonMargin);
    if (!isVisible()) {
        show();
        raise();
    }
}

void TConFail::clearUnits() {
    redrawTimer->stop();
    byTime.clear();
    std::fill(arrivalOfIndex.begin(), arrivalOfIndex.end(), 0);
    std::fill(failed.begin(), failed.end(), 0);
    failedCount = 0;
    UnitList->clear();
}

void TConFail::Button1Click() {
    close();
}

void TConFail::closeEvent(QCloseEvent* event) {
    clearUnits();
    QWidget::closeEvent(event);
}

void TConFail::resizeEvent(QResizeEvent*) {
    Button1->move(width() - Button1->width() - ButtonMargin,
                  height() - Button1->height() - ButtonMargin);
}

void ShowConnectFailed(const TCommandResult& result) {
    // kavioctl and HTTP clients hear of their failures themselves.
    if (result.Result != TCommandResult::Outcome::NotConnected ||
        result.Source == CommandSource::Kavioctl || result.Source == CommandSource::Http)
        return;
    TConFail::notice().AddUnit(result.Index, result.Name, Clock::now());
}

} // namespace kavio
