#include "ImportPlan.h"

#include "ControlCharacters.h"
#include "UnitCsv.h"
#include "UnitRules.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace kavio::ctl {
namespace {

ImportPlan::Column columnOf(UnitRules::Field field) {
    switch (field) {
    case UnitRules::Field::Address:
        return ImportPlan::AddressColumn;
    case UnitRules::Field::Port:
        return ImportPlan::PortColumn;
    case UnitRules::Field::Password:
        return ImportPlan::PasswordColumn;
    case UnitRules::Field::Name:
    case UnitRules::Field::Members:
        break;
    }
    return ImportPlan::NameColumn;
}

QString quoted(const QString& name) {
    return QLatin1Char('"') + escapeControlCharacters(UnitRules::shortened(name)) +
           QLatin1Char('"');
}

} // namespace

const QStringList ImportPlan::Header = {QStringLiteral("name"), QStringLiteral("address"),
                                        QStringLiteral("port"), QStringLiteral("password"),
                                        QStringLiteral("groups")};

// Faults are kept up to KeptFaults in each pass over the rows; each pass meets them in the order
// of lines.
void ImportPlan::fault(int line, int column, const QString& message) {
    if (!shown())
        return skipFault();
    keep(line, column >= 0 && column < Columns ? column : -1, message);
}

void ImportPlan::keep(int line, int column, const QString& message) {
    ++m_faultCount;
    if (m_keptInPass++ < KeptFaults)
        m_faults.push_back({line, column, message});
}

std::vector<ImportPlan::Fault> ImportPlan::faults() const {
    std::vector<Fault> sorted = m_faults;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Fault& a, const Fault& b) { return a.line < b.line; });
    return sorted;
}

bool ImportPlan::readFile(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) {
        fault(QStringLiteral("no such file"));
        return false;
    }
    if (info.isDir()) {
        fault(QStringLiteral("is a folder, not a file"));
        return false;
    }
    if (info.size() > MaxFileSize) {
        fault(QStringLiteral("the file has %1 bytes; files above %2 MB are not read")
                  .arg(info.size())
                  .arg(MaxFileSize / (1024 * 1024)));
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fault(QStringLiteral("cannot be read: %1").arg(file.errorString()));
        return false;
    }
    return read(file);
}

bool ImportPlan::read(QIODevice& device) {
    // The fields take no more characters than the file has bytes: one allocation holds them.
    m_text.reserve(qsizetype(std::min(device.size(), MaxFileSize)));

    const QString expected = Header.join(QLatin1Char(','));
    csv::Reader reader(device, MaxFileSize, Columns + 1);
    csv::Record record;
    QList<csv::Fault> faults;
    bool header = true;
    const auto takeFaults = [&] {
        for (const csv::Fault& each : std::as_const(faults))
            fault(each.line, each.field, each.message);
        faults.clear();
    };
    while (reader.next(record, faults)) {
        if (header && !faults.isEmpty())
            break; // the header itself is faulty
        takeFaults();
        if (header) {
            if (record.fields != Header) {
                fault(record.line, -1,
                      QStringLiteral("the header is %1; expected %2")
                          .arg(quoted(record.fields.join(QLatin1Char(','))), expected));
                return false;
            }
            header = false;
            continue;
        }
        if (record.count != Columns) {
            if (!shown()) {
                skipFault();
                continue;
            }
            fault(record.line, -1,
                  QStringLiteral("the row has %1 fields; expected %2 (%3)")
                      .arg(record.count)
                      .arg(int(Columns))
                      .arg(expected));
            continue;
        }
        Row row;
        row.line = record.line;
        row.start = quint32(m_text.size());
        for (int column = 0; column < Columns; ++column) {
            m_text += record.fields[column];
            row.ends[size_t(column)] = quint32(m_text.size());
        }
        row.group = record.fields[AddressColumn].isEmpty() && record.fields[PortColumn].isEmpty() &&
                    record.fields[PasswordColumn].isEmpty();
        m_rows.push_back(row);
    }
    takeFaults();
    if (reader.readFailed()) {
        fault(QStringLiteral("cannot be read: %1").arg(device.errorString()));
        return false;
    }
    if (reader.beyondLimit()) {
        fault(QStringLiteral("the file has more than %1 MB; it is not read")
                  .arg(MaxFileSize / (1024 * 1024)));
        return false;
    }
    if (header && m_faultCount == 0)
        fault(QStringLiteral("the file is empty; it must start with the header line %1")
                  .arg(expected));
    return !header;
}

void ImportPlan::readStore() {
    for (const writer::NamedRecord& record : writer::namedRecords()) {
        StoredName& stored = m_stored[record.name];
        if (stored.count++ == 0) {
            stored.index = record.index;
            stored.group = record.group;
        }
    }
}

// The group names of a unit's groups column, each once, in their order.
QList<QStringView> ImportPlan::groupsOf(const Row& row) const {
    QList<QStringView> names;
    const QStringView column = field(row, GroupsColumn);
    if (row.group || column.isEmpty())
        return names;
    for (const QStringView name : column.tokenize(u';')) {
        if (!names.contains(name))
            names << name;
    }
    return names;
}

QString ImportPlan::target(QStringView name, GroupTarget& found) const {
    const int row = m_firstRow.value(name) - 1;
    if (row >= 0) {
        const Row& first = m_rows[size_t(row)];
        if (!first.group)
            return QStringLiteral("%1 is the unit on line %2, not a group")
                .arg(quoted(name.toString()))
                .arg(first.line);
        found.row = row;
        return {};
    }
    const auto stored = m_stored.constFind(name.toString());
    if (stored != m_stored.cend()) {
        if (stored->count > 1)
            return QStringLiteral("%1 is the name of %2 records of the database; which group is "
                                  "meant cannot be told")
                .arg(quoted(name.toString()))
                .arg(stored->count);
        if (!stored->group)
            return QStringLiteral("%1 is a unit of the database, not a group")
                .arg(quoted(name.toString()));
        found.storedIndex = stored->index;
    }
    return {};
}

QString ImportPlan::checkGroups(const Row& row) {
    for (const QStringView name : groupsOf(row)) {
        if (name.isEmpty())
            return QStringLiteral("an empty group name; names are separated by single ';', with "
                                  "none before the first or after the last");
        const QString length = UnitRules::lengthFault(QStringLiteral("Group name"), name.toString(),
                                                      UnitRules::NameLimit);
        if (!length.isEmpty())
            return length;
        // A group named here may be made by the import: it meets every rule of the group
        // dialog's name field, whatever characters those rules refuse.
        if (const UnitRules::Fault rules = UnitRules::checkGroup(name.toString(), 1, {}, true))
            return rules.message;
        GroupTarget found;
        const QString message = target(name, found);
        if (!message.isEmpty())
            return message;
        if (!m_targets.contains(name)) {
            m_targets.insert(name, found);
            m_targetOrder << name;
        }
    }
    return {};
}

void ImportPlan::checkRow(int position) {
    const Row& row = m_rows[size_t(position)];
    // A row whose name an earlier one has is refused whatever else is wrong with it; when its
    // fault is not shown, it only needs counting.
    if (!shown() && row.first != position)
        return skipFault();
    for (int column = 0; column < Columns; ++column) {
        if (field(row, column).contains(QChar(0))) {
            fault(row.line, column, QStringLiteral("contains a NUL character"));
            return;
        }
    }
    // Names are exact, as in the dialogs: a name is taken by any record of the database, or by
    // an earlier row of the file.
    int earlier = 0;
    const UnitRules::NameTaken nameTaken = [&](const QString& name) {
        if (m_stored.contains(name))
            return true;
        if (row.first == position)
            return false;
        earlier = m_rows[size_t(row.first)].line;
        return true;
    };
    const QString name = field(row, NameColumn).toString();
    UnitRules::Fault found;
    if (row.group) {
        if (!field(row, GroupsColumn).isEmpty()) {
            fault(row.line, GroupsColumn,
                  QStringLiteral("a group's row (one without address, port and password) names "
                                 "no groups; leave this field empty"));
            return;
        }
        found = UnitRules::checkGroup(name, m_members.value(name), nameTaken, true);
    } else {
        found = UnitRules::checkUnit(
            {name, UnitRules::addressFault(field(row, AddressColumn).toString()),
             field(row, PortColumn).toString(), field(row, PasswordColumn).toString()},
            nameTaken, true);
    }
    if (found) {
        if (earlier > 0)
            found.message += QStringLiteral(" (also on line %1)").arg(earlier);
        fault(row.line, columnOf(found.field), found.message);
        return;
    }
    if (!row.group) {
        const QString message = checkGroups(row);
        if (!message.isEmpty())
            fault(row.line, GroupsColumn, message);
    }
}

bool ImportPlan::check() {
    readStore();
    m_keptInPass = 0;
    m_firstRow.reserve(qsizetype(m_rows.size()));
    for (int position = 0; position < int(m_rows.size()); ++position) {
        Row& row = m_rows[size_t(position)];
        int& first = m_firstRow[field(row, NameColumn)];
        if (first == 0)
            first = position + 1;
        row.first = first - 1;
        for (const QStringView group : groupsOf(row))
            m_members[group] += 1;
    }
    for (int position = 0; position < int(m_rows.size()); ++position)
        checkRow(position);
    if (m_faultCount != 0)
        return false;
    planRecords();
    return true;
}

// Groups first, so that each unit finds every group it joins made already.
void ImportPlan::planRecords() {
    QHash<int, int> madeOfRow; // group row -> its position among the groups made
    for (int position = 0; position < int(m_rows.size()); ++position) {
        const Row& row = m_rows[size_t(position)];
        if (row.group) {
            madeOfRow.insert(position, int(m_groupsToMake.size()));
            m_groupsToMake << field(row, NameColumn).toString();
        } else {
            m_unitRows.push_back(position);
        }
    }
    for (const QStringView name : std::as_const(m_targetOrder)) {
        GroupTarget& target = m_targets[name];
        if (target.storedIndex > 0) {
            target.ref.stored = quint16(target.storedIndex);
        } else if (target.row >= 0) {
            target.ref.made = madeOfRow.value(target.row);
        } else {
            target.ref.made = int(m_groupsToMake.size());
            m_groupsToMake << name.toString();
        }
    }
}

ImportPlan::PlannedUnit ImportPlan::unit(qsizetype number) const {
    const Row& row = m_rows[size_t(m_unitRows[size_t(number)])];
    PlannedUnit planned{{field(row, NameColumn).toString(), field(row, AddressColumn).toString(),
                         field(row, PortColumn).toInt(), field(row, PasswordColumn).toString()},
                        {}};
    for (const QStringView name : groupsOf(row))
        planned.groups << m_targets.value(name).ref;
    return planned;
}

} // namespace kavio::ctl
