#include "Codes.h"
#include "ControlCharacters.h"
#include "CtlCommands.h"
#include "Database.h"
#include "Exception.h"
#include "Schema.h"
#include "SqlRunner.h"
#include "UnitCsv.h"
#include "UnitDirectory.h"
#include "UnitRules.h"
#include "WriteAccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>
#include <algorithm>
#include <array>
#include <vector>

namespace kavio::ctl {
namespace {

// Larger files are refused unread: the store holds at most 65535 records, whose fields fit in
// far less.
constexpr qint64 MaxFileSize = 64 * 1024 * 1024;

enum Column { NameColumn, AddressColumn, PortColumn, PasswordColumn, GroupsColumn, Columns };

const QStringList Header = {QStringLiteral("name"), QStringLiteral("address"),
                            QStringLiteral("port"), QStringLiteral("password"),
                            QStringLiteral("groups")};

Column columnOf(UnitRules::Field field) {
    switch (field) {
    case UnitRules::Field::Address:
        return AddressColumn;
    case UnitRules::Field::Port:
        return PortColumn;
    case UnitRules::Field::Password:
        return PasswordColumn;
    case UnitRules::Field::Name:
    case UnitRules::Field::Members:
        break;
    }
    return NameColumn;
}

QString quoted(const QString& name) {
    return QLatin1Char('"') + escapeControlCharacters(UnitRules::shortened(name)) +
           QLatin1Char('"');
}

// A record of the store, as far as names go.
struct StoredName {
    quint16 index = 0;
    bool group = false;
    int count = 0; // records with this exact name
};

// A row of the file, kept small: a file of many short rows must not need many times its size.
// Its fields lie one after another in the text of all rows.
struct Row {
    qint32 line = 0;
    quint32 start = 0;                   // where its first field begins
    std::array<quint32, Columns> ends{}; // where each field ends
    bool group = false;
    quint16 key = 0;  // the key the import gave it
    qint32 first = 0; // the first row with the same name (itself when none is earlier)
};

// What a unit's groups column names: a group of the store, a group row of the file, or a group
// the import creates.
struct GroupTarget {
    qint64 storedIndex = 0; // 0: none in the store
    int row = -1;           // the group row of the file, or -1
    qint64 newIndex = 0;    // the key the import gave it
};

// At most this many faults are shown, the first by line; the rest are counted.
constexpr qsizetype ShownFaults = 1000;

class Import {
public:
    Import(const QString& file, QTextStream& err)
        : m_file(file)
        , m_err(err) {}

    // Reads the file; false when it cannot be read at all or its header is wrong. Faults of
    // single rows are reported and counted, and the other rows are read on.
    bool read();
    // Checks every row against the rules and the store; false when any row is refused.
    bool check();
    // Adds everything inside the open transaction; false (reported) when the store is full.
    bool add();

    int units() const { return m_units; }
    int groups() const { return m_groups; }

    // Reports the faults found so far, in the order of their lines.
    void report();

private:
    // Faults are kept, with their names and file name escaped like those of `list`, up to
    // ShownFaults in each pass over the rows; each pass meets them in the order of lines.
    void fault(int line, int column, const QString& message) {
        if (!shown())
            return skipFault();
        QString text = QStringLiteral("kavioctl: %1:%2: ").arg(m_file).arg(line);
        if (column >= 0 && column < Columns)
            text += QStringLiteral("field %1: ").arg(Header[column]);
        keep(line, text + message);
    }
    void fault(const QString& message) {
        keep(0, QStringLiteral("kavioctl: %1: %2").arg(m_file, message));
    }
    // Whether a fault met now is shown; one that is not needs no message made.
    bool shown() const { return m_keptInPass < ShownFaults; }
    void skipFault() {
        ++m_faultCount;
        ++m_keptInPass;
    }
    void keep(int line, const QString& text) {
        ++m_faultCount;
        if (m_keptInPass++ < ShownFaults)
            m_faults.push_back({line, escapeControlCharacters(text)});
    }

    QStringView field(const Row& row, int column) const {
        const quint32 from = column == 0 ? row.start : row.ends[size_t(column - 1)];
        return QStringView(m_text).mid(from, row.ends[size_t(column)] - from);
    }
    QList<QStringView> groupsOf(const Row& row) const;
    void readStore();
    void checkRow(int position);
    QString checkGroups(const Row& row);
    QString target(QStringView name, GroupTarget& found) const;
    // The key of the record just inserted; 0 (reported) when the store has no room for it.
    qint64 insert(QSqlQuery& query, const QVariantList& values);

    QString m_file;
    QTextStream& m_err;
    std::vector<std::pair<int, QString>> m_faults;
    qsizetype m_faultCount = 0;
    qsizetype m_keptInPass = 0;
    QString m_text; // the fields of all rows
    std::vector<Row> m_rows;
    QHash<QString, StoredName> m_stored;
    QHash<QStringView, int> m_firstRow; // name -> 1 + the first row that has it
    QHash<QStringView, int> m_members;  // group name -> units of the file that name it
    QHash<QStringView, GroupTarget> m_targets;
    QList<QStringView> m_targetOrder; // group names in the order they are first met
    int m_units = 0;
    int m_groups = 0;
};

void Import::report() {
    std::stable_sort(m_faults.begin(), m_faults.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    const qsizetype shown = std::min<qsizetype>(qsizetype(m_faults.size()), ShownFaults);
    for (qsizetype i = 0; i < shown; ++i)
        m_err << m_faults[size_t(i)].second << '\n';
    if (m_faultCount > shown)
        m_err << "kavioctl: " << escapeControlCharacters(m_file) << ": " << m_faultCount - shown
              << " more faults are not shown\n";
    m_faults.clear();
    m_faultCount = 0;
    m_keptInPass = 0;
}

bool Import::read() {
    const QFileInfo info(m_file);
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
    QFile file(m_file);
    if (!file.open(QIODevice::ReadOnly)) {
        fault(QStringLiteral("cannot be read: %1").arg(file.errorString()));
        return false;
    }
    // The fields take no more characters than the file has bytes: one allocation holds them.
    m_text.reserve(qsizetype(info.size()));

    const QString expected = Header.join(QLatin1Char(','));
    csv::Reader reader(file, MaxFileSize, Columns + 1);
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
        fault(QStringLiteral("cannot be read: %1").arg(file.errorString()));
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

void Import::readStore() {
    QSqlQuery query = runQuery(
        QStringLiteral("Master.DB"),
        QStringLiteral("SELECT \"Index\", \"Name\", \"Group\" = 1 FROM \"Master\" WHERE %1 "
                       "ORDER BY \"Index\"")
            .arg(schema::validKeyCondition(QStringLiteral("Index"))));
    while (query.next()) {
        StoredName& stored = m_stored[query.value(1).toString()];
        if (stored.count++ == 0) {
            stored.index = quint16(query.value(0).toUInt());
            stored.group = query.value(2).toLongLong() != 0;
        }
    }
}

// The group names of a unit's groups column, each once, in their order.
QList<QStringView> Import::groupsOf(const Row& row) const {
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

QString Import::target(QStringView name, GroupTarget& found) const {
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

QString Import::checkGroups(const Row& row) {
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

void Import::checkRow(int position) {
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

bool Import::check() {
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
    return m_faultCount == 0;
}

// Texts go to SQLite as UTF-8 bytes made text there: given as UTF-16, SQLite would take a
// leading U+FEFF for a byte order mark and drop it.
QVariant text(QStringView value) {
    return value.toUtf8();
}

qint64 Import::insert(QSqlQuery& query, const QVariantList& values) {
    for (int i = 0; i < values.size(); ++i)
        query.bindValue(i, values[i]);
    if (!query.exec())
        throw DatabaseError(QStringLiteral("Table %1 of %2 cannot be written: %3")
                                .arg(QStringLiteral("Master.DB"),
                                     QDir::toNativeSeparators(Database::path()),
                                     query.lastError().text()));
    const qint64 key = query.lastInsertId().toLongLong();
    if (key > MaxUnitIndex) {
        fault(QStringLiteral("the database has no room for the new records: a new record would "
                             "get the key %1, above the largest key %2")
                  .arg(key)
                  .arg(MaxUnitIndex));
        return 0;
    }
    return key;
}

bool Import::add() {
    QSqlDatabase db = Database::connection();
    QSqlQuery group(db);
    QSqlQuery unit(db);
    QSqlQuery member(db);
    // New records as the dialogs leave them: a group with its name only, a unit without a
    // timer, unticked, its status unknown.
    group.prepare(QStringLiteral("INSERT INTO \"Master\" (\"Name\", \"Group\", \"Timer\", "
                                 "\"Status\", \"Checked\") VALUES (CAST(? AS TEXT), 1, 0, 3, 0)"));
    unit.prepare(QStringLiteral(
        "INSERT INTO \"Master\" (\"Name\", \"IPAddress\", \"Port\", \"Password\", \"Group\", "
        "\"Timer\", \"Status\", \"Checked\") VALUES (CAST(? AS TEXT), CAST(? AS TEXT), ?, "
        "CAST(? AS TEXT), 0, 0, 3, 0)"));
    member.prepare(
        QStringLiteral("INSERT INTO \"Group\" (\"GroupIndex\", \"Index\") VALUES (?, ?)"));

    for (Row& row : m_rows) {
        if (!row.group)
            continue;
        const qint64 key = insert(group, {text(field(row, NameColumn))});
        if (key == 0)
            return false;
        row.key = quint16(key);
        ++m_groups;
    }
    for (const QStringView name : std::as_const(m_targetOrder)) {
        GroupTarget& target = m_targets[name];
        if (target.storedIndex > 0) {
            target.newIndex = target.storedIndex;
        } else if (target.row >= 0) {
            target.newIndex = m_rows[size_t(target.row)].key;
        } else {
            if ((target.newIndex = insert(group, {text(name)})) == 0)
                return false;
            ++m_groups;
        }
    }
    for (Row& row : m_rows) {
        if (row.group)
            continue;
        const qint64 key =
            insert(unit, {text(field(row, NameColumn)), text(field(row, AddressColumn)),
                          field(row, PortColumn).toInt(), text(field(row, PasswordColumn))});
        if (key == 0)
            return false;
        row.key = quint16(key);
        ++m_units;
        for (const QStringView name : groupsOf(row)) {
            member.bindValue(0, m_targets.value(name).newIndex);
            member.bindValue(1, row.key);
            if (!member.exec())
                throw DatabaseError(QStringLiteral("Table %1 of %2 cannot be written: %3")
                                        .arg(QStringLiteral("Group.DB"),
                                             QDir::toNativeSeparators(Database::path()),
                                             member.lastError().text()));
        }
    }
    return true;
}

bool execute(const QString& statement, QString* problem = nullptr) {
    QSqlQuery query(Database::connection());
    if (query.exec(statement))
        return true;
    if (problem)
        *problem = query.lastError().text();
    return false;
}

QString plural(int count, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
}

} // namespace

int runImport(const QString& file, bool dryRun, int waitMs, QTextStream& out, QTextStream& err) {
    Import import(file, err);
    if (!import.read()) {
        import.report();
        return ExitFailed;
    }
    QString problem;
    // Written, and read for the checks, under one lock: nobody adds a name in between.
    if (!beginWriting(waitMs, err)) {
        import.report();
        err << "kavioctl: " << escapeControlCharacters(file) << ": nothing was imported\n";
        return ExitFailed;
    }
    try {
        const bool good = import.check() && import.add();
        import.report();
        if (!good || dryRun) {
            abandonWriting();
            if (!good) {
                err << "kavioctl: " << escapeControlCharacters(file) << ": nothing was imported\n";
                return ExitFailed;
            }
        } else if (!execute(QStringLiteral("COMMIT"), &problem)) {
            abandonWriting();
            err << "kavioctl: the database "
                << escapeControlCharacters(QDir::toNativeSeparators(Database::path()))
                << " cannot be written: " << escapeControlCharacters(problem)
                << "; nothing was imported\n";
            return ExitFailed;
        }
    } catch (const Exception& error) {
        abandonWriting();
        import.report();
        err << "kavioctl: " << escapeControlCharacters(error.message())
            << "; nothing was imported\n";
        return ExitFailed;
    }
    out << (dryRun ? "Would import " : "Imported ") << plural(import.units(), "unit", "units")
        << " and " << plural(import.groups(), "group", "groups") << '\n';
    if (!dryRun && import.units() + import.groups() > 0)
        announceStoreChanged();
    return ExitOk;
}

} // namespace kavio::ctl
