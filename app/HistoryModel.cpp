#include "HistoryModel.h"

#include "Exception.h"
#include "GlobalFunctions.h"
#include "StatusWords.h"

#include <QDateTime>

namespace kavio {

HistoryModel::HistoryModel(QObject* parent)
    : QAbstractTableModel(parent) {}

void HistoryModel::setFilter(const HistoryFilter& filter) {
    HistoryPage page = ReadHistory(filter, PageRows);
    beginResetModel();
    current = filter;
    rows = std::move(page.Rows);
    next = page.Next;
    endResetModel();
}

void HistoryModel::clear() {
    beginResetModel();
    rows.clear();
    next.reset();
    endResetModel();
}

int HistoryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows.size());
}

int HistoryModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant HistoryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows.size())
        return {};
    const HistoryRow& r = rows[index.row()];
    if (role == Qt::TextAlignmentRole && index.column() == Duration)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role == Qt::ToolTipRole && index.column() == Unit)
        return PlainText(r.Address) + QLatin1Char(':') + QString::number(r.Port);
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case Time:
        return QDateTime::fromMSecsSinceEpoch(r.TimeMs).toString(
            QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    case Unit:
        return PlainText(r.Name);
    case Command: {
        QString name = r.Task == TaskQuery ? QStringLiteral("Query") : QString();
        TaskName(r.Task, name);
        return QStringLiteral("%1 %2").arg(r.Command, name);
    }
    case Source:
        return r.Source;
    case Reply:
        return r.Reply;
    case Status:
        return statusName(r.Status);
    case Outcome:
        return r.Outcome;
    case Duration:
        return QStringLiteral("%1 ms").arg(r.DurationMs);
    default:
        return {};
    }
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char* const names[] = {"Time",  "Unit",   "Command", "Source",
                                        "Reply", "Status", "Outcome", "Duration"};
    return section >= 0 && section < ColumnCount ? tr(names[section]) : QVariant();
}

bool HistoryModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && next.has_value();
}

void HistoryModel::fetchMore(const QModelIndex& parent) {
    if (parent.isValid() || !next)
        return;
    HistoryPage page;
    try {
        page = ReadHistory(current, PageRows, next);
    } catch (const Exception&) {
        // A locked or failing file: the rows shown stay, and scrolling down tries again.
        return;
    }
    if (page.Rows.isEmpty()) {
        next.reset();
        return;
    }
    beginInsertRows({}, int(rows.size()), int(rows.size() + page.Rows.size()) - 1);
    rows += page.Rows;
    next = page.Next;
    endInsertRows();
}

} // namespace kavio
