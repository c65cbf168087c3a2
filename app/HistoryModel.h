#pragma once

#include "HistoryQuery.h"

#include <QAbstractTableModel>

namespace kavio {

// The rows of the History table that match a filter, newest first, read a page at a time as
// the view scrolls down: a table of a million rows opens as fast as one of a hundred.
class HistoryModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { Time, Unit, Command, Source, Reply, Status, Outcome, Duration, ColumnCount };
    static constexpr int PageRows = 200;

    explicit HistoryModel(QObject* parent = nullptr);

    // Reads the first page for this filter; throws DatabaseError.
    void setFilter(const HistoryFilter& filter);
    const HistoryFilter& filter() const { return current; }
    // No rows (the database failed).
    void clear();
    const HistoryRow& row(int index) const { return rows[index]; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    HistoryFilter current;
    QList<HistoryRow> rows;
    std::optional<HistoryCursor> next;
};

} // namespace kavio
