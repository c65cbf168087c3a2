#pragma once

#include "UnitDirectory.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <functional>
#include <vector>

class QSqlDatabase;
class QThread;

namespace kavio::service {

// Master and Group as the listings show them: units and groups in list order, each unit with
// the names of its groups, each group with its members' names in list order.
struct StoreSnapshot {
    std::vector<StoredRecord> units;
    std::vector<StoredRecord> groups;
    std::vector<QStringList> members; // of groups[i]
};

// An HTTP answer made away from the event loop.
struct ListingAnswer {
    int Status = 200;
    QByteArray Body;
    QList<QPair<QByteArray, QByteArray>> Headers;
};

// Reads the store on a thread of its own, with a read-only connection of its own, and makes the
// large answers (the units, the groups, the metrics) there: with tens of thousands of units
// reading and writing them takes far longer than the exchanges' event loop may be held. The
// snapshot is read again only when another connection has changed the file since. Questions are
// answered one at a time, in order.
class StoreListing : public QObject {
    Q_OBJECT

public:
    using Work = std::function<ListingAnswer(const StoreSnapshot&)>;

    explicit StoreListing(const QString& databasePath, QObject* parent = nullptr);
    // Waits for the work under way, if any, to end.
    ~StoreListing() override;

    // Runs `work` on the reader's thread with a fresh snapshot; `done` is called on this
    // object's thread. A store that cannot be read gives 500 with the reason. With a `cacheKey`
    // the answer is kept until the store changes, and the same question is answered with it:
    // lab tools ask for the same listing far more often than it changes.
    void run(Work work, std::function<void(const ListingAnswer&)> done,
             const QString& cacheKey = {});
    // Questions not answered yet.
    int waiting() const { return m_waiting; }

private:
    QThread* m_thread;
    QObject* m_worker;
    int m_waiting = 0;
};

// Lowers the calling thread's share of the processor (Linux: its nice value), so that a reader
// thread making a large answer does not slow the event loop that runs the exchanges on a busy
// machine.
constexpr int ReaderNiceness = 10;
void yieldToExchanges();

// Master's units and groups and Group's rows as read, in key order.
using directory::RawStore;
using directory::readRaw;
// Puts them in list order and links units and groups.
StoreSnapshot arrange(RawStore raw);

// The part of a listing that `offset` and `limit` ask for, with the headers that tell the
// whole: Kavio-Total-Count, and Kavio-More-Rows when entries follow the part.
struct Page {
    int offset = 0;
    int limit = 0;
};
QList<QPair<QByteArray, QByteArray>> pageHeaders(const Page& page, size_t total);

} // namespace kavio::service
