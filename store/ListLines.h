#pragma once

#include <QSqlQuery>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kavio::lines {

// One record as the device list takes it when the list is built.
struct ListedRecord {
    quint16 index = 0;
    QString name;
    bool group = false;
    bool checked = false;
};

// Each read hands its records to `take` one by one, in key order, so that the list makes its
// lines straight from them. Each throws DatabaseError when its table cannot be read.
using ListedSink = std::function<void(ListedRecord&& record)>;
// The groups: the tabs, and the head of the "All" tab.
void groupsByKey(const ListedSink& take);
// The units: the rest of the "All" tab.
void unitsByKey(const ListedSink& take);
// The records a group's rows name, each once: the lines of its tab.
void membersByKey(quint16 group, const ListedSink& take);

// The rest of a line's record, read the first time it is asked for.
struct LineRecord {
    QString address;
    qint32 port = 0;
    bool timer = false;
    quint8 status = 3;
};
// nullopt when the record is gone; throws DatabaseError when the table cannot be read.
std::optional<LineRecord> readLineRecord(quint16 index);

// What a line shows that may change between two rebuilds of the list.
struct LineState {
    bool group = false;
    quint8 status = 3;
    bool timer = false;
};

// Reads a line's state with one statement prepared once, so that a paint pass over many lines
// prepares it only once.
class LineStateReader {
public:
    // nullptr when no database is open or the statement cannot be prepared.
    static std::unique_ptr<LineStateReader> open();
    // nullopt when the record cannot be read now (gone, or the store busy).
    std::optional<LineState> read(quint16 index);

private:
    LineStateReader() = default;
    QSqlQuery m_query;
};

} // namespace kavio::lines
