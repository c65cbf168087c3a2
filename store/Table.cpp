#include "Table.h"

#include "Codes.h"
#include "Database.h"
#include "Exception.h"
#include "Schema.h"

#include <QDir>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>

namespace kavio {
namespace {

QString quoted(const QString& identifier) {
    return QLatin1Char('"') + identifier + QLatin1Char('"');
}

} // namespace

// ---- TField -------------------------------------------------------------------------------------

QVariant TField::value() const {
    return m_table->current(m_column);
}

bool TField::isNull() const {
    return value().isNull();
}

QString TField::asString() const {
    return value().toString();
}

qint64 TField::asInteger() const {
    const QVariant v = value();
    if (v.isNull())
        return 0;
    bool ok = false;
    const qint64 number = v.toLongLong(&ok);
    if (!ok)
        m_table->fail(QStringLiteral("field \"%1\" holds \"%2\", which is not a whole number")
                          .arg(m_table->m_columns.at(m_column), v.toString()));
    return number;
}

bool TField::asBoolean() const {
    return asInteger() != 0;
}

void TField::setValue(const QVariant& value) {
    m_table->assign(m_column, value);
}

// ---- TTable -------------------------------------------------------------------------------------

TTable::TTable(const QString& name)
    : m_name(name.endsWith(QLatin1String(".DB")) ? name.chopped(3) : name) {
    const schema::TableSchema* known = schema::find(m_name);
    if (!known)
        throw DatabaseError(QStringLiteral("Table %1.DB does not exist").arg(m_name));
    m_orderBy = QLatin1String(known->orderBy);
    m_validKeys = schema::validKeysCondition(*known);
    m_keyIsAutomatic = m_orderBy != QLatin1String("rowid");
}

void TTable::fail(const QString& what) const {
    throw DatabaseError(QStringLiteral("Table %1 of %2: %3")
                            .arg(name(), QDir::toNativeSeparators(Database::path()), what));
}

void TTable::requireOpen(const char* operation) const {
    if (m_state == State::Inactive)
        fail(QStringLiteral("cannot %1 while the table is closed").arg(QLatin1String(operation)));
}

void TTable::requireRecord(const char* operation) const {
    requireOpen(operation);
    if (eof())
        fail(QStringLiteral("cannot %1: there is no current record").arg(QLatin1String(operation)));
}

int TTable::columnOf(const QString& field) const {
    const int column = m_columns.indexOf(field);
    if (column < 0)
        fail(QStringLiteral("has no field \"%1\"").arg(field));
    return column;
}

// The columns are read from the file on first use, not at construction: table objects may be
// made before the database is open.
const QStringList& TTable::columns() {
    if (m_columns.isEmpty())
        m_columns = Database::columns(m_name);
    return m_columns;
}

QString TTable::selectSql() const {
    QString sql = QStringLiteral("SELECT rowid");
    for (const QString& column : std::as_const(m_columns))
        sql += QStringLiteral(", ") + quoted(column);
    return sql + QStringLiteral(" FROM ") + quoted(m_name);
}

TTable::Record TTable::recordFrom(const QSqlQuery& query) const {
    Record record{query.value(0).toLongLong(), {}};
    record.values.reserve(m_columns.size());
    for (int column = 0; column < m_columns.size(); ++column)
        record.values.append(query.value(column + 1));
    return record;
}

void TTable::setFilter(const QString& text) {
    m_filter = TableFilter::parse(text, m_name, columns());
    m_filterText = text;
    if (isOpen() && m_filtered)
        load();
}

void TTable::setFiltered(bool on) {
    if (on == m_filtered)
        return;
    m_filtered = on;
    if (isOpen())
        load();
}

void TTable::open() {
    if (isOpen())
        return;
    m_columns = Database::columns(m_name);
    load();
}

void TTable::load() {
    QString sql = selectSql() + QStringLiteral(" WHERE ") + m_validKeys;
    const bool useFilter = m_filtered && !m_filter.isEmpty();
    if (useFilter)
        sql += QStringLiteral(" AND ") + quoted(m_filter.column) + QStringLiteral(" = ?");
    sql += QStringLiteral(" ORDER BY ") + m_orderBy;

    QSqlQuery query(Database::connection());
    query.setForwardOnly(true);
    query.prepare(sql);
    if (useFilter)
        query.addBindValue(m_filter.value);
    if (!query.exec())
        fail(QStringLiteral("cannot be read: %1").arg(query.lastError().text()));

    std::vector<Record> records;
    while (query.next())
        records.push_back(recordFrom(query));
    m_records = std::move(records);
    m_position = 0;
    m_state = State::Browse;
}

void TTable::close() {
    m_state = State::Inactive;
    m_records.clear();
    m_records.shrink_to_fit();
    m_position = 0;
}

void TTable::first() {
    requireOpen("move to the first record");
    if (m_state != State::Browse)
        post();
    m_position = 0;
}

void TTable::next() {
    requireOpen("move to the next record");
    if (m_state != State::Browse)
        post();
    if (m_position < int(m_records.size()))
        ++m_position;
}

bool TTable::eof() const {
    return m_position >= int(m_records.size());
}

bool TTable::bof() const {
    return m_position == 0;
}

int TTable::recordCount() const {
    requireOpen("count records");
    return int(m_records.size());
}

void TTable::edit() {
    if (m_state == State::Edit || m_state == State::Insert)
        return;
    requireRecord("edit");
    m_buffer = m_records[m_position];
    m_assigned.assign(m_columns.size(), false);
    m_state = State::Edit;
}

void TTable::append() {
    requireOpen("append");
    if (m_state != State::Browse)
        post();
    m_buffer = Record{0, QVariantList(m_columns.size())};
    m_assigned.assign(m_columns.size(), false);
    m_state = State::Insert;
}

void TTable::cancel() {
    if (m_state == State::Edit || m_state == State::Insert)
        m_state = State::Browse;
}

void TTable::post() {
    if (m_state == State::Edit) {
        postEdit();
    } else if (m_state == State::Insert) {
        insertInOrder(readRow(postAppend()));
    } else {
        fail(QStringLiteral("cannot post: no record is being edited or appended"));
    }
    m_state = State::Browse;
}

qint64 TTable::postAppend() {
    QStringList names;
    QVariantList values;
    for (int column = 0; column < m_columns.size(); ++column) {
        if (m_assigned[column]) {
            names << quoted(m_columns[column]);
            values << m_buffer.values[column];
        }
    }
    QString sql = QStringLiteral("INSERT INTO ") + quoted(m_name);
    if (names.isEmpty()) {
        sql += QStringLiteral(" DEFAULT VALUES");
    } else {
        sql += QStringLiteral(" (%1) VALUES (%2)")
                   .arg(names.join(QLatin1Char(',')),
                        QStringList(names.size(), QStringLiteral("?")).join(QLatin1Char(',')));
    }

    // The key is checked inside a transaction: a key beyond the 16 bits every consumer holds is
    // rolled back rather than let wrap onto another record's key.
    QSqlDatabase db = Database::connection();
    if (!db.transaction())
        fail(QStringLiteral("cannot be written: %1").arg(db.lastError().text()));
    QSqlQuery query(db);
    query.prepare(sql);
    for (const QVariant& value : std::as_const(values))
        query.addBindValue(value);
    if (!query.exec()) {
        const QString error = query.lastError().text();
        db.rollback();
        fail(QStringLiteral("the record cannot be appended: %1").arg(error));
    }
    const qint64 rowid = query.lastInsertId().toLongLong();
    query.finish();
    if (m_keyIsAutomatic && rowid > MaxUnitIndex) {
        db.rollback();
        fail(QStringLiteral("the record cannot be appended: its key would be %1, above the "
                            "largest key %2")
                 .arg(rowid)
                 .arg(MaxUnitIndex));
    }
    if (!db.commit()) {
        const QString error = db.lastError().text();
        db.rollback();
        fail(QStringLiteral("the record cannot be appended: %1").arg(error));
    }
    return rowid;
}

void TTable::postEdit() {
    QStringList assignments;
    QVariantList values;
    for (int column = 0; column < m_columns.size(); ++column) {
        if (m_assigned[column]) {
            assignments << quoted(m_columns[column]) + QStringLiteral(" = ?");
            values << m_buffer.values[column];
        }
    }
    if (!assignments.isEmpty()) {
        QSqlQuery query(Database::connection());
        query.prepare(QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?")
                          .arg(quoted(m_name), assignments.join(QStringLiteral(", "))));
        for (const QVariant& value : std::as_const(values))
            query.addBindValue(value);
        query.addBindValue(m_buffer.rowid);
        if (!query.exec())
            fail(QStringLiteral("the record cannot be written: %1").arg(query.lastError().text()));
        if (query.numRowsAffected() == 0)
            fail(QStringLiteral("the record cannot be written: it was deleted meanwhile"));
    }
    Record& record = m_records[m_position];
    record.values = m_buffer.values;
    if (!visible(record))
        m_records.erase(m_records.begin() + m_position);
}

TTable::Record TTable::readRow(qint64 rowid) {
    QSqlQuery query(Database::connection());
    query.prepare(selectSql() + QStringLiteral(" WHERE rowid = ?"));
    query.addBindValue(rowid);
    if (!query.exec() || !query.next())
        fail(QStringLiteral("the appended record cannot be read back: %1")
                 .arg(query.lastError().text()));
    return recordFrom(query);
}

bool TTable::visible(const Record& record) const {
    if (!m_filtered || m_filter.isEmpty())
        return true;
    return m_filter.matches(record.values[m_columns.indexOf(m_filter.column)]);
}

// An appended record takes its place in table order (keys and rowids only grow, so that is
// nearly always the end) and becomes the current record.
void TTable::insertInOrder(Record record) {
    if (!visible(record)) {
        m_position = int(m_records.size());
        return;
    }
    const auto place =
        std::upper_bound(m_records.begin(), m_records.end(), record.rowid,
                         [](qint64 rowid, const Record& other) { return rowid < other.rowid; });
    m_position = int(place - m_records.begin());
    m_records.insert(place, std::move(record));
}

void TTable::deleteRecord() {
    requireRecord("delete");
    if (m_state != State::Browse)
        cancel();
    QSqlQuery query(Database::connection());
    query.prepare(QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(quoted(m_name)));
    query.addBindValue(m_records[m_position].rowid);
    if (!query.exec())
        fail(QStringLiteral("the record cannot be deleted: %1").arg(query.lastError().text()));
    m_records.erase(m_records.begin() + m_position);
}

void TTable::emptyTable() {
    QSqlQuery query(Database::connection());
    if (!query.exec(QStringLiteral("DELETE FROM ") + quoted(m_name) + QStringLiteral(" WHERE ") +
                    m_validKeys))
        fail(QStringLiteral("cannot be emptied: %1").arg(query.lastError().text()));
    m_records.clear();
    m_position = 0;
    if (m_state != State::Inactive)
        m_state = State::Browse;
}

void TTable::flushBuffers() {
    QSqlQuery query(Database::connection());
    if (!query.exec(QStringLiteral("PRAGMA wal_checkpoint(FULL)")))
        fail(QStringLiteral("cannot be flushed: %1").arg(query.lastError().text()));
}

bool TTable::findKey(qint64 index) {
    requireOpen("search");
    const int column = columnOf(QStringLiteral("Index"));
    // Master.DB is read in key order (its keys are whole numbers, or it is not read at all), so
    // a search per line of a long list does not walk the whole table each time.
    if (m_orderBy == QLatin1String(R"("Index")")) {
        const auto found = std::lower_bound(m_records.begin(), m_records.end(), index,
                                            [column](const Record& record, qint64 key) {
                                                return record.values[column].toLongLong() < key;
                                            });
        if (found == m_records.end() || found->values[column].toLongLong() != index)
            return false;
        m_position = int(found - m_records.begin());
        return true;
    }
    for (int position = 0; position < int(m_records.size()); ++position) {
        bool ok = false;
        if (m_records[position].values[column].toLongLong(&ok) == index && ok) {
            m_position = position;
            return true;
        }
    }
    return false;
}

TField TTable::fieldByName(const QString& field) {
    columns();
    return TField(this, columnOf(field));
}

void TTable::setFieldInAllRecords(const QString& field, const QVariant& value) {
    close();
    m_filterText.clear();
    m_filter = {};
    m_filtered = false;
    columns();
    QSqlQuery query(Database::connection());
    query.prepare(QStringLiteral("UPDATE %1 SET %2 = ? WHERE %3")
                      .arg(quoted(m_name), quoted(m_columns[columnOf(field)]), m_validKeys));
    query.addBindValue(value);
    if (!query.exec())
        fail(QStringLiteral("cannot be written: %1").arg(query.lastError().text()));
}

const QVariant& TTable::current(int column) const {
    if (m_state == State::Edit || m_state == State::Insert)
        return m_buffer.values[column];
    requireRecord("read a field");
    return m_records[m_position].values[column];
}

void TTable::assign(int column, const QVariant& value) {
    if (m_state != State::Edit && m_state != State::Insert)
        fail(QStringLiteral("cannot write field \"%1\": the table is not in edit or append state")
                 .arg(m_columns[column]));
    m_buffer.values[column] = value;
    m_assigned[column] = true;
}

} // namespace kavio
