#include "TickGuard.h"

#include "Codes.h"
#include "Main.h"
#include "Messages.h"
#include "ShownLines.h"

#include <QCoreApplication>
#include <QStatusBar>

namespace kavio {
namespace {

QString taskCaption(quint8 task) {
    switch (task) {
    case TaskPowerOn:
        return QStringLiteral("Power ON");
    case TaskPowerOff:
        return QStringLiteral("Power OFF");
    case TaskReboot:
        return QStringLiteral("Reboot");
    case TaskPulse:
        return QStringLiteral("Pulse");
    case TaskCycle:
        return QStringLiteral("Cycle");
    default:
        return QStringLiteral("Query");
    }
}

} // namespace

TickedLines CountTicked(const KavioListView& list) {
    TickedLines counted;
    const KavioListModel& lines = *list.lines();
    const ShownLines& shown = *list.shown();
    const QAbstractItemView& view = *list.shownView();
    // The rows on screen run from the one at the top of the shown view (list or Details) to the
    // one at its bottom (the last row when the view ends above it); a row cut by an edge counts
    // as shown. A line that find leaves out is not shown either. A list that is not on screen at
    // all (the window in the tray) has no power buttons either.
    int first = 0;
    int last = shown.rowCount() - 1;
    if (view.isVisible()) {
        const QRect screen = view.viewport()->rect();
        const QModelIndex top = view.indexAt(QPoint(1, screen.top()));
        const QModelIndex bottom = view.indexAt(QPoint(1, screen.bottom()));
        first = top.isValid() ? top.row() : shown.rowCount();
        if (bottom.isValid())
            last = bottom.row();
    }
    for (int line = 0; line < lines.count(); ++line) {
        if (!lines.box(line) || lines.entry(line).Group)
            continue;
        ++counted.units;
        const int row = shown.shownRowOf(line);
        if (row < first || row > last)
            ++counted.hidden;
    }
    return counted;
}

bool ConfirmTickedCommand(TKavioCCMain& main, quint8 task) {
    if (task == TaskQuery)
        return true;
    const TickedLines ticked = CountTicked(*main.KavioList);
    if (ticked.hidden == 0)
        return true;
    const QString question =
        ticked.units == 1 ? QStringLiteral("%1 1 unit, which is not shown?").arg(taskCaption(task))
                          : QStringLiteral("%1 %2 units, %3 of them not shown?")
                                .arg(taskCaption(task))
                                .arg(ticked.units)
                                .arg(ticked.hidden);
    return Messages::show(MessageKind::Confirmation, QCoreApplication::applicationName(), question,
                          QMessageBox::Yes | QMessageBox::No, &main,
                          QMessageBox::No) == QMessageBox::Yes;
}

void ReportSkipped(TKavioCCMain& main, quint8 task, int count) {
    if (count <= 0)
        return;
    main.statusBar()->showMessage(
        count == 1 ? QStringLiteral("%1 skipped for 1 unit whose status is not known: query it "
                                    "first")
                         .arg(taskCaption(task))
                   : QStringLiteral("%1 skipped for %2 units whose status is not known: query "
                                    "them first")
                         .arg(taskCaption(task))
                         .arg(count));
}

} // namespace kavio
