#include "UnitWriter.h"

#include "Database.h"
#include "Schema.h"
#include "WriteTransaction.h"

#include <QDir>
#include <QSqlError>
#include <QSqlQuery>

namespace kavio {
namespace {

const QString Master = QStringLiteral("Master.DB");
const QString Group = QStringLiteral("Group.DB");

QString validKeys(const char* table) {
    return schema::validKeysCondition(*schema::find(QLatin1String(table)));
}

QSqlQuery run(const QString& table, const QString& sql, const QVariantList& values,
              const char* what = "cannot be written") {
    QSqlQuery query(Database::connection());
    query.setForwardOnly(true);
    bool done = query.prepare(sql);
    if (done) {
        for (const QVariant& value : values)
            query.addBindValue(value);
        done = query.exec();
    }
    if (!done)
        throw DatabaseError(QStringLiteral("Table %1 of %2 %3: %4")
                                .arg(table, QDir::toNativeSeparators(Database::path()),
                                     QLatin1String(what), query.lastError().text()));
    return query;
}

// Texts go to SQLite as UTF-8 bytes made text there (the statements cast them): given as UTF-16,
// SQLite would take a leading U+FEFF for a byte order mark and drop it.
QVariant text(const QString& value) {
    return value.toUtf8();
}

qint64 flag(bool on) {
    return on ? 1 : 0;
}

void writeMembers(quint16 group, const QList<quint16>& members) {
    run(Group,
        QStringLiteral("DELETE FROM \"Group\" WHERE \"GroupIndex\" = ? AND ") + validKeys("Group"),
        {group});
    for (const quint16 member : members)
        writer::addMember(group, member);
}

qint64 count(const char* table, const QString& where) {
    QSqlQuery query = run(QLatin1String(table) + QStringLiteral(".DB"),
                          QStringLiteral("SELECT count(*) FROM \"%1\" WHERE %2 %3")
                              .arg(QLatin1String(table), validKeys(table), where),
                          {}, "cannot be read");
    query.next(); // count(*) always gives one row
    return query.value(0).toLongLong();
}

} // namespace

StoreFull::StoreFull(qint64 key)
    : DatabaseError(QStringLiteral("Table Master.DB of %1: the record cannot be appended: its key "
                                   "would be %2, above the largest key %3")
                        .arg(QDir::toNativeSeparators(Database::path()))
                        .arg(key)
                        .arg(MaxUnitIndex))
    , m_key(key) {}

struct RecordBatch::Statements {
    WriteTransaction transaction{Master};
    QSqlQuery unit{Database::connection()};
    QSqlQuery group{Database::connection()};
    QSqlQuery member{Database::connection()};

    // Runs one of the prepared statements with these values.
    static QSqlQuery& run(QSqlQuery& query, const QString& table, const QVariantList& values) {
        for (int i = 0; i < values.size(); ++i)
            query.bindValue(i, values[i]);
        if (!query.exec())
            throw DatabaseError(QStringLiteral("Table %1 of %2 cannot be written: %3")
                                    .arg(table, QDir::toNativeSeparators(Database::path()),
                                         query.lastError().text()));
        return query;
    }

    // The key of the record just inserted.
    static quint16 key(const QSqlQuery& query) {
        const qint64 key = query.lastInsertId().toLongLong();
        if (key > MaxUnitIndex)
            throw StoreFull(key);
        return quint16(key);
    }
};

RecordBatch::RecordBatch()
    : m_statements(std::make_unique<Statements>()) {
    const auto prepare = [](QSqlQuery& query, const QString& table, const QString& sql) {
        if (!query.prepare(sql))
            throw DatabaseError(QStringLiteral("Table %1 of %2 cannot be written: %3")
                                    .arg(table, QDir::toNativeSeparators(Database::path()),
                                         query.lastError().text()));
    };
    // Every column named: a group has no address, port or password; the last three take the
    // defaults of a new record.
    const QString insert = QStringLiteral(
        "INSERT INTO \"Master\" (\"Name\", \"IPAddress\", \"Port\", \"Password\", "
        "\"Group\", \"Timer\", \"Status\", \"Checked\") VALUES (CAST(? AS TEXT), %1, "
        "?, ?, ?)");
    prepare(m_statements->unit, Master,
            insert.arg(QStringLiteral("CAST(? AS TEXT), ?, CAST(? AS TEXT), 0")));
    prepare(m_statements->group, Master, insert.arg(QStringLiteral("NULL, NULL, NULL, 1")));
    prepare(m_statements->member, Group,
            QStringLiteral("INSERT INTO \"Group\" (\"GroupIndex\", \"Index\") VALUES (?, ?)"));
}

RecordBatch::~RecordBatch() = default;

quint16 RecordBatch::makeUnit(const UnitFields& unit) {
    return Statements::key(
        Statements::run(m_statements->unit, Master,
                        {text(unit.name), text(unit.address), unit.port, text(unit.password),
                         flag(NewRecord::Timer), NewRecord::Status, flag(NewRecord::Checked)}));
}

quint16 RecordBatch::makeGroup(const QString& name) {
    return Statements::key(Statements::run(
        m_statements->group, Master,
        {text(name), flag(NewRecord::Timer), NewRecord::Status, flag(NewRecord::Checked)}));
}

void RecordBatch::addMember(quint16 group, quint16 unit) {
    Statements::run(m_statements->member, Group, {group, unit});
}

void RecordBatch::commit() {
    m_statements->transaction.commit();
}

namespace writer {

quint16 makeUnit(const UnitFields& unit) {
    RecordBatch batch;
    const quint16 key = batch.makeUnit(unit);
    batch.commit();
    return key;
}

quint16 makeGroup(const QString& name, const QList<quint16>& members) {
    RecordBatch batch;
    const quint16 key = batch.makeGroup(name);
    writeMembers(key, members);
    batch.commit();
    return key;
}

bool changeUnit(quint16 index, const UnitFields& unit) {
    const QSqlQuery query =
        run(Master,
            QStringLiteral("UPDATE \"Master\" SET \"Name\" = CAST(? AS TEXT), \"IPAddress\" = "
                           "CAST(? AS TEXT), \"Port\" = ?, \"Password\" = CAST(? AS TEXT) "
                           "WHERE \"Index\" = ? AND ") +
                validKeys("Master"),
            {text(unit.name), text(unit.address), unit.port, text(unit.password), index});
    return query.numRowsAffected() > 0;
}

bool changeGroup(quint16 index, const QString& name, const QList<quint16>& members) {
    WriteTransaction transaction(Master);
    const QSqlQuery query = run(Master,
                                QStringLiteral("UPDATE \"Master\" SET \"Name\" = CAST(? AS TEXT), "
                                               "\"Group\" = 1 WHERE \"Index\" = ? AND ") +
                                    validKeys("Master"),
                                {text(name), index});
    if (query.numRowsAffected() == 0)
        return false;
    writeMembers(index, members);
    transaction.commit();
    return true;
}

void setMembers(quint16 group, const QList<quint16>& members) {
    WriteTransaction transaction(Group);
    writeMembers(group, members);
    transaction.commit();
}

void addMember(quint16 group, quint16 unit) {
    run(Group, QStringLiteral("INSERT INTO \"Group\" (\"GroupIndex\", \"Index\") VALUES (?, ?)"),
        {group, unit});
}

bool remove(quint16 index) {
    WriteTransaction transaction(Master);
    QSqlQuery record = run(Master,
                           QStringLiteral("SELECT \"Group\" FROM \"Master\" WHERE \"Index\" = ? "
                                          "AND ") +
                               validKeys("Master"),
                           {index}, "cannot be read");
    if (!record.next())
        return false;
    const bool group = record.value(0).toLongLong() != 0;
    record.finish();
    run(Group,
        QStringLiteral("DELETE FROM \"Group\" WHERE \"%1\" = ? AND %2")
            .arg(group ? QStringLiteral("GroupIndex") : QStringLiteral("Index"),
                 validKeys("Group")),
        {index});
    run(Master, QStringLiteral("DELETE FROM \"Master\" WHERE \"Index\" = ?"), {index});
    transaction.commit();
    return true;
}

void removeAll() {
    WriteTransaction transaction(Master);
    for (const char* table : {"Master", "Group", "Timer"})
        run(QLatin1String(table) + QStringLiteral(".DB"),
            QStringLiteral("DELETE FROM \"%1\" WHERE %2")
                .arg(QLatin1String(table), validKeys(table)),
            {});
    transaction.commit();
}

void setTicks(const std::vector<quint16>& indexes, bool checked) {
    WriteTransaction transaction(Master);
    QSqlQuery query(Database::connection());
    bool written =
        query.prepare(QStringLiteral("UPDATE \"Master\" SET \"Checked\" = ? WHERE \"Index\" = ?"));
    for (auto index = indexes.begin(); written && index != indexes.end(); ++index) {
        query.bindValue(0, flag(checked));
        query.bindValue(1, *index);
        written = query.exec();
    }
    if (!written)
        throw DatabaseError(
            QStringLiteral("Table %1 of %2 cannot be written: %3")
                .arg(Master, QDir::toNativeSeparators(Database::path()), query.lastError().text()));
    transaction.commit();
}

bool markTimer(quint16 index) {
    return run(Master,
               QStringLiteral("UPDATE \"Master\" SET \"Timer\" = 1 WHERE \"Index\" = ? AND ") +
                   validKeys("Master"),
               {index})
               .numRowsAffected() > 0;
}

StoreCounts counts() {
    return {count("Master", QStringLiteral("AND \"Group\" = 0")),
            count("Master", QStringLiteral("AND \"Group\" <> 0")), count("Timer", QString())};
}

std::vector<NamedRecord> namedRecords() {
    QSqlQuery query =
        run(Master,
            QStringLiteral("SELECT \"Index\", \"Name\", \"Group\" = 1 FROM \"Master\" "
                           "WHERE %1 ORDER BY \"Index\"")
                .arg(validKeys("Master")),
            {}, "cannot be read");
    std::vector<NamedRecord> records;
    while (query.next())
        records.push_back({quint16(query.value(0).toUInt()), query.value(1).toString(),
                           query.value(2).toLongLong() != 0});
    return records;
}

} // namespace writer
} // namespace kavio
