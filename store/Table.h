#pragma once

#include "TableFilter.h"

#include <QList>
#include <QString>
#include <QVariant>
#include <vector>

class QSqlQuery;

namespace kavio {

class TTable;

// A field of a table object's current record (or of the record being edited), by name.
class TField {
public:
    TField(TTable* table, int column)
        : m_table(table)
        , m_column(column) {}

    QVariant value() const;
    bool isNull() const;
    QString asString() const;
    // Null reads as 0; text that is not a whole number is refused with an error naming the field.
    qint64 asInteger() const;
    bool asBoolean() const;

    // Only while the table is in edit or append state.
    void setValue(const QVariant& value);
    void setString(const QString& value) { setValue(value); }
    void setInteger(qint64 value) { setValue(value); }
    void setBoolean(bool value) { setValue(qint64(value ? 1 : 0)); }

private:
    TTable* m_table;
    int m_column;
};

// A table object: one named table of the database file, seen through an optional filter, with a
// cursor over its records in table order.
//
// Like the table objects of a desktop table store: open() reads the (filtered) records and puts
// the cursor on the first; edit()/append() start changing a record and post() writes it; the
// filter stays in force on the object until cleared, also across close() and open(). Each open
// reads the file anew, so a record posted through one object is seen by the next open of any
// other. Records whose unit keys (Master's Index, Group's GroupIndex and Index, Timer's Index) lie
// outside 1..65535 are never read, so no walk lists, serves or writes them.
class TTable {
public:
    enum class State { Inactive, Browse, Edit, Insert };

    // `name` is the table's name, with or without the ".DB" ending: "Master.DB" or "Master".
    explicit TTable(const QString& name);
    TTable(const TTable&) = delete;
    TTable& operator=(const TTable&) = delete;

    QString name() const { return m_name + QStringLiteral(".DB"); }

    // Filter text (see TableFilter); an unknown form is refused at once.
    void setFilter(const QString& text);
    QString filter() const { return m_filterText; }
    void setFiltered(bool on);
    bool filtered() const { return m_filtered; }

    void open();  // no effect when already open
    void close(); // a change not yet posted is dropped
    bool isOpen() const { return m_state != State::Inactive; }
    State state() const { return m_state; }

    void first();
    void next();
    bool eof() const;
    bool bof() const;
    int recordCount() const;
    int recNo() const { return m_position; }

    void edit();
    void append();
    void post();
    void cancel();
    void deleteRecord();
    // Deletes every record of the table, whatever the filter. Keys are not handed out again.
    // Like every walk, it leaves alone the records whose unit keys lie outside 1..65535.
    void emptyTable();
    // Makes every posted change durable on disk.
    void flushBuffers();

    // Moves to the record whose Index equals `index`; false (cursor unmoved) when none has it.
    bool findKey(qint64 index);

    TField fieldByName(const QString& field);

    // Sets one field of every record of the table to `value` in one statement, whatever the
    // filter (which is cleared, as for any walk of the whole table). The table ends closed.
    void setFieldInAllRecords(const QString& field, const QVariant& value);

private:
    friend class TField;
    struct Record {
        qint64 rowid;
        QVariantList values;
    };

    void requireOpen(const char* operation) const;
    void requireRecord(const char* operation) const;
    [[noreturn]] void fail(const QString& what) const;
    int columnOf(const QString& field) const;
    const QStringList& columns();
    QString selectSql() const;
    Record recordFrom(const QSqlQuery& query) const;
    void load();
    bool visible(const Record& record) const;
    void insertInOrder(Record record);
    Record readRow(qint64 rowid);
    qint64 postAppend();
    void postEdit();

    const QVariant& current(int column) const;
    void assign(int column, const QVariant& value);

    QString m_name;
    QStringList m_columns;
    QString m_orderBy;
    QString m_validKeys;   // SQL condition: the record's unit keys lie in 1..65535
    bool m_keyIsAutomatic; // set by the constructor
    QString m_filterText;
    TableFilter m_filter;
    bool m_filtered = false;

    State m_state = State::Inactive;
    std::vector<Record> m_records;
    int m_position = 0;
    Record m_buffer;
    std::vector<bool> m_assigned;
};

} // namespace kavio
