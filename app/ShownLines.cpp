#include "ShownLines.h"

#include "Codes.h"
#include "Database.h"
#include "Exception.h"
#include "HistoryQuery.h"
#include "Icons.h"
#include "KavioList.h"
#include "NameOrder.h"
#include "StatusWords.h"

#include <QDateTime>
#include <QDir>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <numeric>

namespace kavio {

QString lineToolTip(bool group, int status, const QString& address) {
    if (group)
        return QStringLiteral("Group");
    return statusName(status) + QStringLiteral(" \u2014 ") +
           (address.isEmpty() ? QStringLiteral("no address") : address);
}

namespace {

QSqlQuery read(const QString& sql) {
    QSqlQuery query(Database::connection());
    query.setForwardOnly(true);
    if (!query.exec(sql))
        throw DatabaseError(
            QStringLiteral("Table %1 of %2: cannot be read: %3")
                .arg(sql.contains(QLatin1String("\"Timer\"")) ? QStringLiteral("Timer.DB")
                                                              : QStringLiteral("Master.DB"),
                     QDir::toNativeSeparators(Database::path()), query.lastError().text()));
    return query;
}

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
    , m_lines(lines) {
    connect(lines, &QAbstractItemModel::modelAboutToBeReset, this, &ShownLines::linesAboutToChange);
    connect(lines, &QAbstractItemModel::modelReset, this, &ShownLines::linesChanged);
    connect(lines, &QAbstractItemModel::rowsAboutToBeInserted, this,
            &ShownLines::linesAboutToChange);
    connect(lines, &QAbstractItemModel::rowsInserted, this, &ShownLines::linesChanged);
    connect(lines, &QAbstractItemModel::dataChanged, this, &ShownLines::boxesChanged);
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
            return oneLine(entry.Name);
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
    m_columnsRead = false;
    m_columns.assign(size_t(m_lines->count()), Columns{});
    m_lineRead.assign(size_t(m_lines->count()), 0);
    m_haystack.clear();
    if (m_findOpen || m_sortColumn != NameColumn)
        readColumns();
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

// One pass over the store for every line of the tab: the unit's own fields, the names of its
// groups (in the tabs' order) and how many timers it has.
void ShownLines::readColumns() {
    const int count = m_lines->count();
    m_columns.assign(size_t(count), Columns{});
    m_lineRead.assign(size_t(count), 0);
    m_haystack.assign(size_t(count), QString());
    if (count > 0) {
        QSqlQuery units = read(
            QStringLiteral("SELECT \"Index\", \"IPAddress\", \"Port\", \"Status\" FROM \"Master\" "
                           "WHERE \"Group\" = 0 AND \"Index\" BETWEEN 1 AND 65535"));
        while (units.next()) {
            const int line = m_lines->rowOf(quint16(units.value(0).toUInt()));
            if (line < 0)
                continue;
            Columns& columns = m_columns[size_t(line)];
            columns.address = units.value(1).toString();
            columns.port = units.value(2).toInt();
            columns.status = quint8(units.value(3).toUInt());
        }
        QSqlQuery groups = read(QStringLiteral(
            "SELECT g.\"Index\", g.\"GroupIndex\", m.\"Name\" FROM \"Group\" AS g "
            "JOIN \"Master\" AS m ON m.\"Index\" = g.\"GroupIndex\" "
            "WHERE g.\"Index\" BETWEEN 1 AND 65535 ORDER BY g.\"Index\", g.\"GroupIndex\""));
        int lastLine = -1;
        qint64 lastGroup = -1;
        while (groups.next()) {
            const int line = m_lines->rowOf(quint16(groups.value(0).toUInt()));
            const qint64 group = groups.value(1).toLongLong();
            if (line < 0 || (line == lastLine && group == lastGroup))
                continue; // a repeated membership row names its group once
            QString& names = m_columns[size_t(line)].groups;
            if (!names.isEmpty())
                names += QStringLiteral(", ");
            names += oneLine(groups.value(2).toString());
            lastLine = line;
            lastGroup = group;
        }
        QSqlQuery timers = read(QStringLiteral(
            "SELECT \"Index\", COUNT(*) FROM \"Timer\" WHERE \"Index\" BETWEEN 1 AND 65535 "
            "GROUP BY \"Index\""));
        while (timers.next()) {
            const int line = m_lines->rowOf(quint16(timers.value(0).toUInt()));
            if (line >= 0)
                m_columns[size_t(line)].timers = timers.value(1).toInt();
        }
    }
    for (int line = 0; line < count; ++line) {
        const Columns& columns = m_columns[size_t(line)];
        m_haystack[size_t(line)] = (m_lines->entry(line).Name + QLatin1Char('\n') +
                                    columns.address + QLatin1Char('\n') + columns.groups)
                                       .toCaseFolded();
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
    QSqlQuery groups(Database::connection());
    groups.setForwardOnly(true);
    groups.prepare(QStringLiteral(
        "SELECT DISTINCT m.\"Index\", m.\"Name\" FROM \"Group\" AS g "
        "JOIN \"Master\" AS m ON m.\"Index\" = g.\"GroupIndex\" WHERE g.\"Index\" = ? "
        "ORDER BY m.\"Index\""));
    groups.addBindValue(record.Index);
    if (groups.exec()) {
        while (groups.next()) {
            if (!columns.groups.isEmpty())
                columns.groups += QStringLiteral(", ");
            columns.groups += oneLine(groups.value(1).toString());
        }
    }
    QSqlQuery timers(Database::connection());
    timers.setForwardOnly(true);
    timers.prepare(QStringLiteral("SELECT COUNT(*) FROM \"Timer\" WHERE \"Index\" = ?"));
    timers.addBindValue(record.Index);
    if (timers.exec() && timers.next())
        columns.timers = timers.value(0).toInt();
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
        if (m_sortColumn == GroupsColumn || m_sortColumn == StatusColumn) {
            std::vector<QString> texts(static_cast<size_t>(count));
            for (int line = 0; line < count; ++line) {
                if (!m_lines->entry(line).Group)
                    texts[size_t(line)] = m_sortColumn == GroupsColumn
                                              ? m_columns[size_t(line)].groups
                                              : statusName(m_columns[size_t(line)].status);
            }
            const std::vector<size_t> byText = orderByName(texts);
            for (size_t rank = 0; rank < byText.size(); ++rank)
                keys[byText[rank]] = qint64(rank);
            // Equal texts share the rank of the first of them.
            for (size_t rank = 1; rank < byText.size(); ++rank) {
                if (texts[byText[rank]] == texts[byText[rank - 1]])
                    keys[byText[rank]] = keys[byText[rank - 1]];
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
    } else if (m_sortOrder == Qt::DescendingOrder) {
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
    emit layoutAboutToBeChanged();
    // Rows move: the selection and the current line follow their lines.
    const QModelIndexList before = persistentIndexList();
    std::vector<int> beforeLines;
    beforeLines.reserve(size_t(before.size()));
    for (const QModelIndex& old : before)
        beforeLines.push_back(lineOf(old.row()));
    m_sortColumn = column;
    m_sortOrder = order;
    if (column != NameColumn && !m_columnsRead)
        readColumns();
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

void ShownLines::setFindOpen(bool open) {
    m_findOpen = open;
    if (open && !m_columnsRead)
        readColumns();
}

} // namespace kavio
