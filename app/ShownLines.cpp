#include "ShownLines.h"

#include "Codes.h"
#include "ControlCharacters.h"
#include "Exception.h"
#include "HistoryQuery.h"
#include "Icons.h"
#include "KavioList.h"
#include "LineDetails.h"
#include "NameOrder.h"
#include "StatusWords.h"

#include <QDateTime>
#include <QTimer>
#include <algorithm>
#include <array>
#include <numeric>

namespace kavio {

QString lineToolTip(bool group, int status, const QString& address) {
    if (group)
        return QStringLiteral("Group");
    return statusName(status) + QStringLiteral(" \u2014 ") +
           (address.isEmpty() ? QStringLiteral("no address") : address);
}

namespace {

// An IPv4 address as one number, so that 10.0.0.9 sorts before 10.0.0.10; anything else after
// every address.
qint64 addressValue(const QString& address) {
    const QStringList parts = address.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return qint64(1) << 32;
    qint64 value = 0;
    for (const QString& part : parts) {
        bool ok = false;
        const int octet = part.toInt(&ok);
        if (!ok || octet < 0 || octet > 255)
            return qint64(1) << 32;
        value = value * 256 + octet;
    }
    return value;
}

} // namespace

ShownLines::ShownLines(KavioListModel* lines, QObject* parent)
    : QAbstractTableModel(parent)
    , m_lines(lines)
    , m_reader(new QTimer(this)) {
    connect(lines, &QAbstractItemModel::modelAboutToBeReset, this, &ShownLines::linesAboutToChange);
    connect(lines, &QAbstractItemModel::modelReset, this, &ShownLines::linesChanged);
    connect(lines, &QAbstractItemModel::rowsAboutToBeInserted, this,
            &ShownLines::linesAboutToChange);
    connect(lines, &QAbstractItemModel::rowsInserted, this, &ShownLines::linesChanged);
    connect(lines, &QAbstractItemModel::dataChanged, this, &ShownLines::boxesChanged);
    connect(m_reader, &QTimer::timeout, this, &ShownLines::readNextSlice);
    rebuild();
}

int ShownLines::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ShownLines::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

int ShownLines::shownRowOf(int line) const {
    return line >= 0 && size_t(line) < m_rowOfLine.size() ? m_rowOfLine[size_t(line)] : -1;
}

QVariant ShownLines::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const titles[ColumnCount] = {"Name",   "Status", "Address",    "Port",
                                                    "Groups", "Timers", "Last answer"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(titles[section])
                                                 : QVariant();
}

Qt::ItemFlags ShownLines::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == NameColumn)
        flags |= Qt::ItemIsUserCheckable;
    return flags;
}

QVariant ShownLines::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    return lineData(lineOf(index.row()), index.column(), role);
}

QVariant ShownLines::lineData(int line, int column, int role) const {
    const TKavio& entry = m_lines->entry(line);
    if (role == Qt::ToolTipRole) {
        const LiveFields live = m_lines->live(line);
        if (live.Group)
            return lineToolTip(true, live.Status, {});
        return lineToolTip(false, live.Status, lineColumns(line).address) + QLatin1Char('\n') +
               LastAnswerText(entry.Index);
    }
    if (column == NameColumn) {
        switch (role) {
        case Qt::DisplayRole:
            return blankControlCharacters(entry.Name);
        case Qt::CheckStateRole:
            return m_lines->box(line) ? Qt::Checked : Qt::Unchecked;
        case Qt::DecorationRole: {
            const LiveFields live = m_lines->live(line);
            return live.Group ? Icons::group() : Icons::forStatus(live.Status);
        }
        default:
            return {};
        }
    }
    if (role == Qt::TextAlignmentRole && (column == PortColumn || column == TimersColumn))
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole || entry.Group)
        return {};
    if (column == StatusColumn)
        return statusName(m_lines->live(line).Status);
    if (column == LastAnswerColumn) {
        // Read as it is painted: the history grows with every exchange.
        try {
            const std::optional<qint64> last = LastAnswerMs(entry.Index);
            return last ? QDateTime::fromMSecsSinceEpoch(*last).toString(
                              QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                        : QVariant();
        } catch (const Exception&) {
            return {};
        }
    }
    const Columns& columns = lineColumns(line);
    switch (column) {
    case AddressColumn:
        return columns.address;
    case PortColumn:
        return columns.port;
    case GroupsColumn:
        return columns.groups;
    case TimersColumn:
        return columns.timers > 0 ? QVariant(columns.timers) : QVariant();
    default:
        return {};
    }
}

bool ShownLines::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.column() != NameColumn)
        return false;
    return m_lines->setData(m_lines->index(lineOf(index.row())), value, role);
}

void ShownLines::linesAboutToChange() {
    beginResetModel();
}

void ShownLines::linesChanged() {
    rebuild();
    endResetModel();
}

void ShownLines::rebuild() {
    m_reader->stop();
    m_columnsRead = false;
    m_columns.assign(size_t(m_lines->count()), Columns{});
    m_lineRead.assign(size_t(m_lines->count()), 0);
    m_haystack.clear();
    if (m_findOpen)
        readColumns();
    else if (m_sortColumn != NameColumn)
        readColumnsForSort();
    orderLines();
    narrow();
}

void ShownLines::boxesChanged(const QModelIndex& first, const QModelIndex& last) {
    if (m_rows.empty())
        return;
    if (first.row() == last.row()) {
        const int row = shownRowOf(first.row());
        if (row >= 0)
            emit dataChanged(index(row, NameColumn), index(row, NameColumn), {Qt::CheckStateRole});
        return;
    }
    emit dataChanged(index(0, NameColumn), index(rowCount() - 1, NameColumn), {Qt::CheckStateRole});
}

// Every line's columns at once: what find needs before its first keystroke.
void ShownLines::readColumns() {
    m_reader->stop();
    startColumns();
    readKeys(1, MaxUnitIndex);
    finishColumns();
}

// A sort of a long list reads the columns a slice of keys at a time from the event loop, so
// that the window never stalls for long, and sorts once the last slice is in; until then the
// lines keep their order. A short list is read and sorted at once.
void ShownLines::readColumnsForSort() {
    if (m_lines->count() < SlicedFrom) {
        readColumns();
        return;
    }
    if (m_reader->isActive())
        return;
    startColumns();
    m_nextKey = 1;
    m_reader->start();
}

void ShownLines::readNextSlice() {
    const qint64 last = std::min<qint64>(m_nextKey + SliceKeys - 1, MaxUnitIndex);
    readKeys(m_nextKey, last);
    m_nextKey = last + 1;
    if (m_nextKey <= MaxUnitIndex)
        return;
    m_reader->stop();
    finishColumns();
    reorder();
}

void ShownLines::startColumns() {
    const size_t count = size_t(m_lines->count());
    m_columnsRead = false;
    m_columns.assign(count, Columns{});
    m_lineRead.assign(count, 0);
    m_haystack.assign(count, QString());
}

// The columns of the units whose keys lie in from..to, from the store in one pass each: the
// unit's own fields, the names of its groups (in the tabs' order) and how many timers it has.
void ShownLines::readKeys(qint64 from, qint64 to) {
    if (m_lines->count() == 0)
        return;
    std::vector<int> touched;
    details::forEachUnit(from, to,
                         [&](quint16 unit, const QString& address, int port, quint8 status) {
                             const int line = m_lines->rowOf(unit);
                             if (line < 0)
                                 return;
                             // Afresh, also when a paint has read the line on its own meanwhile.
                             Columns& columns = m_columns[size_t(line)];
                             columns = Columns{};
                             columns.address = address;
                             columns.port = port;
                             columns.status = status;
                             m_lineRead[size_t(line)] = 1;
                             touched.push_back(line);
                         });
    int lastLine = -1;
    qint64 lastGroup = -1;
    details::forEachMembership(from, to, [&](quint16 unit, qint64 group, const QString& groupName) {
        const int line = m_lines->rowOf(unit);
        if (line < 0 || (line == lastLine && group == lastGroup))
            return; // a repeated membership row names its group once
        QString& names = m_columns[size_t(line)].groups;
        if (!names.isEmpty())
            names += QStringLiteral(", ");
        names += blankControlCharacters(groupName);
        lastLine = line;
        lastGroup = group;
    });
    details::forEachTimerCount(from, to, [&](quint16 unit, int timers) {
        const int line = m_lines->rowOf(unit);
        if (line >= 0)
            m_columns[size_t(line)].timers = timers;
    });
    for (int line : touched)
        m_haystack[size_t(line)] = haystackOf(line);
}

QString ShownLines::haystackOf(int line) const {
    const Columns& columns = m_columns[size_t(line)];
    return (m_lines->entry(line).Name + QLatin1Char('\n') + columns.address + QLatin1Char('\n') +
            columns.groups)
        .toCaseFolded();
}

// The lines no unit row reached (groups, and records that went meanwhile) are searched by
// their names alone.
void ShownLines::finishColumns() {
    const int count = m_lines->count();
    for (int line = 0; line < count; ++line) {
        if (!m_lineRead[size_t(line)])
            m_haystack[size_t(line)] = haystackOf(line);
    }
    std::fill(m_lineRead.begin(), m_lineRead.end(), char(1));
    m_columnsRead = true;
}

// One line's columns, read on its own the first time it is shown (the Details view without
// find text or sorting reads only the lines it paints).
const ShownLines::Columns& ShownLines::lineColumns(int line) const {
    Columns& columns = m_columns[size_t(line)];
    if (m_lineRead[size_t(line)])
        return columns;
    m_lineRead[size_t(line)] = 1;
    // A paint must not raise: a line whose record cannot be read shows empty columns.
    const TKavio* read = nullptr;
    try {
        read = &m_lines->record(line);
    } catch (const Exception&) {
        return columns;
    }
    const TKavio& record = *read;
    columns.address = record.IPAddress;
    columns.port = record.Port;
    columns.status = record.Status;
    try {
        for (const QString& name : details::groupNamesOf(record.Index)) {
            if (!columns.groups.isEmpty())
                columns.groups += QStringLiteral(", ");
            columns.groups += blankControlCharacters(name);
        }
    } catch (const Exception&) {
        // Shown without groups.
    }
    try {
        columns.timers = details::timerCountOf(record.Index);
    } catch (const Exception&) {
        // Shown without timers.
    }
    return columns;
}

void ShownLines::orderLines() {
    const int count = m_lines->count();
    m_order.resize(size_t(count));
    std::iota(m_order.begin(), m_order.end(), 0);
    if (m_sortColumn != NameColumn && m_columnsRead) {
        // Groups first (they have none of these columns), then by the column; equal values
        // keep the list's own order.
        std::vector<qint64> keys(size_t(count), -1);
        if (m_sortColumn == StatusColumn) {
            // Six words: their order is found once, each line takes its word's rank.
            std::vector<QString> words;
            for (int status = StatusOn; status <= StatusBusy; ++status)
                words.push_back(statusName(status));
            std::array<qint64, StatusBusy + 1> rank{};
            const std::vector<size_t> byWord = orderByName(words);
            for (size_t at = 0; at < byWord.size(); ++at)
                rank[byWord[at]] = qint64(at);
            for (int line = 0; line < count; ++line) {
                if (!m_lines->entry(line).Group) {
                    const quint8 status = m_columns[size_t(line)].status;
                    keys[size_t(line)] =
                        rank[status <= StatusBusy ? status : quint8(StatusUnknown)];
                }
            }
        } else if (m_sortColumn == GroupsColumn) {
            // Many lines share their groups: each different text is ranked once, and equal
            // texts share their rank.
            QHash<QString, qint64> rankOf;
            std::vector<QString> texts;
            for (int line = 0; line < count; ++line) {
                if (!m_lines->entry(line).Group &&
                    !rankOf.contains(m_columns[size_t(line)].groups)) {
                    rankOf.insert(m_columns[size_t(line)].groups, 0);
                    texts.push_back(m_columns[size_t(line)].groups);
                }
            }
            const std::vector<size_t> byText = orderByName(texts);
            for (size_t rank = 0; rank < byText.size(); ++rank)
                rankOf[texts[byText[rank]]] = qint64(rank);
            for (int line = 0; line < count; ++line) {
                if (!m_lines->entry(line).Group)
                    keys[size_t(line)] = rankOf.value(m_columns[size_t(line)].groups);
            }
        } else if (m_sortColumn == LastAnswerColumn) {
            // Units that never answered come first when ascending, as groups do.
            QHash<quint16, qint64> last;
            try {
                last = LastAnswers();
            } catch (const Exception&) {
            }
            for (int line = 0; line < count; ++line) {
                if (!m_lines->entry(line).Group)
                    keys[size_t(line)] = last.value(m_lines->entry(line).Index, 0);
            }
        } else {
            for (int line = 0; line < count; ++line) {
                if (m_lines->entry(line).Group)
                    continue;
                const Columns& columns = m_columns[size_t(line)];
                keys[size_t(line)] = m_sortColumn == AddressColumn ? addressValue(columns.address)
                                     : m_sortColumn == PortColumn  ? columns.port
                                                                   : columns.timers;
            }
        }
        const bool ascending = m_sortOrder == Qt::AscendingOrder;
        std::stable_sort(m_order.begin(), m_order.end(), [&](int a, int b) {
            return ascending ? keys[size_t(a)] < keys[size_t(b)]
                             : keys[size_t(b)] < keys[size_t(a)];
        });
    } else if (m_sortColumn == NameColumn && m_sortOrder == Qt::DescendingOrder) {
        std::reverse(m_order.begin(), m_order.end());
    }
}

void ShownLines::narrow() {
    if (m_filter.isEmpty() || !m_columnsRead) {
        m_rows = m_order;
    } else {
        m_rows.clear();
        for (int line : m_order) {
            if (m_haystack[size_t(line)].contains(m_filter))
                m_rows.push_back(line);
        }
    }
    m_rowOfLine.assign(size_t(m_lines->count()), -1);
    for (size_t row = 0; row < m_rows.size(); ++row)
        m_rowOfLine[size_t(m_rows[row])] = int(row);
}

void ShownLines::setFilterText(const QString& text) {
    const QString folded = text.toCaseFolded();
    if (folded == m_filter)
        return;
    beginResetModel();
    m_filter = folded;
    if (!m_filter.isEmpty() && !m_columnsRead) {
        readColumns();
        orderLines();
    }
    narrow();
    endResetModel();
}

void ShownLines::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= ColumnCount)
        column = NameColumn;
    if (column == m_sortColumn && order == m_sortOrder)
        return;
    m_sortColumn = column;
    m_sortOrder = order;
    if (column != NameColumn && !m_columnsRead) {
        readColumnsForSort();
        if (!m_columnsRead)
            return; // sorted when the last slice is read
    }
    reorder();
}

// Puts the lines in the sort order; the selection and the current line follow their lines.
void ShownLines::reorder() {
    emit layoutAboutToBeChanged();
    const QModelIndexList before = persistentIndexList();
    std::vector<int> beforeLines;
    beforeLines.reserve(size_t(before.size()));
    for (const QModelIndex& old : before)
        beforeLines.push_back(lineOf(old.row()));
    orderLines();
    narrow();
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype i = 0; i < before.size(); ++i) {
        const int row = shownRowOf(beforeLines[size_t(i)]);
        after << (row < 0 ? QModelIndex() : index(row, before[i].column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged();
}

bool ShownLines::sortPending() const {
    return m_reader->isActive();
}

void ShownLines::setFindOpen(bool open) {
    m_findOpen = open;
    if (open && !m_columnsRead)
        readColumns();
}

} // namespace kavio
