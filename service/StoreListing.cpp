#include "StoreListing.h"

#include "Exception.h"
#include "NameOrder.h"

#include <QHash>
#include <QSqlError>
#include <QThread>
#include <algorithm>
#include <sys/resource.h>
#include <unistd.h>

namespace kavio::service {
namespace {

// Answers kept at most; pages asked for in a walk through a long listing come and go.
constexpr int MaxCachedAnswers = 32;

// Lives in the reader's thread with its connection and the last snapshot.
class ListingState : public QObject {
public:
    ListingState(QString connection, QString path)
        : connection(std::move(connection))
        , path(std::move(path)) {}
    ~ListingState() override {
        QSqlDatabase::database(connection, false).close();
        QSqlDatabase::removeDatabase(connection);
    }

    const StoreSnapshot& snapshot() {
        QSqlDatabase db = QSqlDatabase::database(connection, false);
        if (!db.isValid()) {
            db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
            db.setDatabaseName(path);
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=1000"));
        }
        if (!db.isOpen() && !db.open())
            throw DatabaseError(
                QStringLiteral("The units cannot be read: %1").arg(db.lastError().text()));
        // Changes by any other connection (the service's own writes among them) move this.
        const qint64 now = directory::dataVersion(db);
        if (now < 0 || now != dataVersion) {
            // A read transaction, so that Master and Group are seen as of one moment; it ends
            // before the sorting, so that the service's status writes can check-point the
            // write-ahead log again soon.
            db.transaction();
            RawStore raw;
            try {
                raw = readRaw(db);
            } catch (...) {
                db.rollback();
                throw;
            }
            db.rollback();
            kept = arrange(std::move(raw));
            dataVersion = now;
            answers.clear();
        }
        return kept;
    }

    const QString connection;
    const QString path;
    StoreSnapshot kept;
    qint64 dataVersion = -1;
    // Answers made from `kept`, by their cache key.
    QHash<QString, ListingAnswer> answers;
};

} // namespace

StoreSnapshot arrange(RawStore raw) {
    StoreSnapshot snapshot;
    snapshot.units = std::move(raw.units);
    snapshot.groups = std::move(raw.groups);
    directory::sortByName(snapshot.groups);
    directory::sortByName(snapshot.units);

    QHash<quint16, int> groupAt;
    for (int at = 0; at < int(snapshot.groups.size()); ++at)
        groupAt.insert(snapshot.groups[size_t(at)].index, at);
    QHash<quint16, int> unitAt;
    for (int at = 0; at < int(snapshot.units.size()); ++at)
        unitAt.insert(snapshot.units[size_t(at)].index, at);
    std::vector<std::vector<int>> groupsOfUnit(snapshot.units.size());
    std::vector<std::vector<int>> unitsOfGroup(snapshot.groups.size());
    for (const auto& [groupKey, unitKey] : raw.memberships) {
        const auto group = groupAt.constFind(groupKey);
        const auto unit = unitAt.constFind(unitKey);
        if (group == groupAt.cend() || unit == unitAt.cend())
            continue;
        groupsOfUnit[size_t(*unit)].push_back(*group);
        unitsOfGroup[size_t(*group)].push_back(*unit);
    }
    auto ordered = [](std::vector<int>& positions) {
        std::sort(positions.begin(), positions.end());
        positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    };
    for (size_t unit = 0; unit < snapshot.units.size(); ++unit) {
        ordered(groupsOfUnit[unit]);
        for (int group : groupsOfUnit[unit])
            snapshot.units[unit].groups << snapshot.groups[size_t(group)].name;
    }
    snapshot.members.resize(snapshot.groups.size());
    for (size_t group = 0; group < snapshot.groups.size(); ++group) {
        ordered(unitsOfGroup[group]);
        for (int unit : unitsOfGroup[group])
            snapshot.members[group] << snapshot.units[size_t(unit)].name;
    }
    return snapshot;
}

QList<QPair<QByteArray, QByteArray>> pageHeaders(const Page& page, size_t total) {
    QList<QPair<QByteArray, QByteArray>> headers{
        {"Kavio-Total-Count", QByteArray::number(qulonglong(total))}};
    if (size_t(page.offset) + size_t(page.limit) < total)
        headers.emplaceBack("Kavio-More-Rows", "true");
    return headers;
}

StoreListing::StoreListing(const QString& databasePath, QObject* parent)
    : QObject(parent)
    , m_thread(new QThread(this))
    , m_worker(new ListingState(QStringLiteral("KavioStoreListing-%1").arg(quintptr(this), 0, 16),
                                databasePath)) {
    m_thread->setObjectName(QStringLiteral("store listing"));
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread->start();
    QMetaObject::invokeMethod(
        m_worker, [] { yieldToExchanges(); }, Qt::QueuedConnection);
}

void yieldToExchanges() {
    ::setpriority(PRIO_PROCESS, id_t(::gettid()), ReaderNiceness);
}

StoreListing::~StoreListing() {
    m_thread->quit();
    m_thread->wait();
}

void StoreListing::run(Work work, std::function<void(const ListingAnswer&)> done,
                       const QString& cacheKey) {
    ++m_waiting;
    auto* state = static_cast<ListingState*>(m_worker);
    QMetaObject::invokeMethod(
        m_worker,
        [this, state, work = std::move(work), done = std::move(done), cacheKey] {
            ListingAnswer answer;
            try {
                const StoreSnapshot& snapshot = state->snapshot();
                const auto kept = state->answers.constFind(cacheKey);
                if (!cacheKey.isEmpty() && kept != state->answers.cend()) {
                    answer = *kept;
                } else {
                    answer = work(snapshot);
                    if (!cacheKey.isEmpty()) {
                        if (state->answers.size() >= MaxCachedAnswers)
                            state->answers.clear();
                        state->answers.insert(cacheKey, answer);
                    }
                }
            } catch (const Exception& error) {
                answer = {500, error.message().toUtf8() + '\n', {}};
            }
            QMetaObject::invokeMethod(
                this,
                [this, answer, done] {
                    --m_waiting;
                    done(answer);
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

} // namespace kavio::service
