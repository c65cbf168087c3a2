#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <vector>

class QTimer;

namespace kavio {

class KavioListModel;

// The lines of the current tab as the views show them: narrowed by the find text and, in the
// Details view, sorted by a column. The lines themselves (and their boxes) stay in the
// KavioListModel in list order; this model only maps shown rows to them and adds the columns of
// the Details view. Without find text and sorted by name, shown row and line are the same.
//
// Address, port, groups and timers are read from the store for every line in one pass when find
// or a sort by them needs them (again after each rebuild of the list while they do), else line
// by line as the Details view paints them. Status and the group mark are read at each paint,
// like the compact list's icons.
class ShownLines : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column {
        NameColumn,
        StatusColumn,
        AddressColumn,
        PortColumn,
        GroupsColumn,
        TimersColumn,
        LastAnswerColumn,
    };
    static constexpr int ColumnCount = 7;
    // A sort by a column of a list this long reads the columns in slices of this many keys.
    static constexpr int SlicedFrom = 4096;
    static constexpr int SliceKeys = 4096;

    explicit ShownLines(KavioListModel* lines, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

    KavioListModel* lines() const { return m_lines; }
    // The line (row of the KavioListModel) of a shown row, and back (-1 when not shown).
    int lineOf(int shownRow) const { return m_rows[size_t(shownRow)]; }
    int shownRowOf(int line) const;

    // Shows only the lines whose name, address or group names contain `text`, letter case
    // aside; an empty text shows every line.
    void setFilterText(const QString& text);
    QString filterText() const { return m_filter; }
    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }
    // While the find field is open, what find looks at is read for every line at once (when it
    // opens and after each rebuild), so that each keystroke only compares.
    void setFindOpen(bool open);
    // Whether a sort waits for the columns still being read.
    bool sortPending() const;

private:
    struct Columns {
        QString address;
        int port = 0;
        QString groups;
        int timers = 0;
        quint8 status = 3;
    };

    void linesAboutToChange();
    void linesChanged();
    // Maps the lines afresh (after a rebuild of the list): order, find text, columns to read.
    void rebuild();
    void boxesChanged(const QModelIndex& first, const QModelIndex& last);
    void readColumns();
    void readColumnsForSort();
    void readNextSlice();
    void startColumns();
    void readKeys(qint64 from, qint64 to);
    void finishColumns();
    QString haystackOf(int line) const;
    void reorder();
    void orderLines();
    void narrow();
    QVariant lineData(int line, int column, int role) const;
    const Columns& lineColumns(int line) const;

    KavioListModel* m_lines;
    QTimer* m_reader;     // reads the next slice of columns
    qint64 m_nextKey = 1; // the first key of that slice
    QString m_filter;     // case-folded
    int m_sortColumn = NameColumn;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    bool m_findOpen = false;
    bool m_columnsRead = false;             // every line's columns, in one pass
    mutable std::vector<Columns> m_columns; // by line
    mutable std::vector<char> m_lineRead;   // by line: its columns have been read
    std::vector<QString> m_haystack;        // by line: name, address and groups, case-folded
    std::vector<int> m_order;               // every line, in the sort order
    std::vector<int> m_rows;                // the shown lines, in the sort order
    std::vector<int> m_rowOfLine;           // by line: its shown row, or -1
};

// A line's tooltip in both views: the status word and the address (a group's says "Group").
QString lineToolTip(bool group, int status, const QString& address);

} // namespace kavio
