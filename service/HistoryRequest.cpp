#include "HistoryRequest.h"

#include "Exception.h"
#include "HistoryFilterWords.h"
#include "QueryItems.h"
#include "StoreListing.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QSqlError>
#include <QThread>
#include <algorithm>

namespace kavio::service {
namespace {

QByteArray errorBody(const QString& message) {
    return QJsonDocument(QJsonObject{{QStringLiteral("error"), message}})
        .toJson(QJsonDocument::Indented);
}

// Opened on first use, in the reader's thread: a connection belongs to the thread that made it.
QSqlDatabase readConnection(const QString& name, const QString& path) {
    QSqlDatabase db = QSqlDatabase::database(name, false);
    if (!db.isValid()) {
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        // Reading never waits on the service's writes (the file keeps a write-ahead log);
        // another program's checkpoint is waited for briefly.
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=1000"));
    }
    if (!db.isOpen() && !db.open())
        throw DatabaseError(
            QStringLiteral("The history cannot be read: %1").arg(db.lastError().text()));
    return db;
}

HistoryAnswer answer(const QString& connection, const QString& path, HistoryAsk ask) {
    try {
        QSqlDatabase db = readConnection(connection, path);
        // A unit deleted since is found by the name its rows were kept under, as kavioctl
        // finds it.
        if (!ask.Filter.Unit && !ask.Unit.isNull()) {
            if (!HistoryHasName(db, ask.Unit))
                return {404, errorBody(QStringLiteral("no unit is named '%1'").arg(ask.Unit))};
            ask.Filter.UnitName = ask.Unit;
        }
        const HistoryPage page = ReadHistory(db, ask.Filter, ask.Limit);
        // The newest rows, oldest first like a log, as kavioctl prints them.
        QList<HistoryRow> rows = page.Rows;
        std::reverse(rows.begin(), rows.end());
        return {200, QJsonDocument(HistoryJson(rows)).toJson(QJsonDocument::Indented),
                page.Next.has_value()};
    } catch (const Exception& error) {
        return {500, errorBody(error.message())};
    }
}

// Lives in the reader's thread and takes its connection with it.
class ReaderThreadState : public QObject {
public:
    explicit ReaderThreadState(QString connection)
        : connection(std::move(connection)) {}
    ~ReaderThreadState() override {
        QSqlDatabase::database(connection, false).close();
        QSqlDatabase::removeDatabase(connection);
    }
    const QString connection;
};

} // namespace

bool parseHistoryAsk(const QByteArray& encodedQuery, const QDateTime& now, HistoryAsk& ask,
                     QString& problem) {
    static const QStringList known = {QStringLiteral("unit"),   QStringLiteral("group"),
                                      QStringLiteral("since"),  QStringLiteral("until"),
                                      QStringLiteral("source"), QStringLiteral("limit")};
    QueryItems items;
    if (!items.parse(encodedQuery, known, problem))
        return false;
    QHash<QString, QString> given;
    for (const auto& [key, value] : items.items()) {
        if (value.isEmpty()) {
            problem = QStringLiteral("'%1' needs a value").arg(key);
            return false;
        }
        given.insert(key, value);
    }

    ask = HistoryAsk{};
    if (given.contains(QStringLiteral("unit")) && given.contains(QStringLiteral("group"))) {
        problem = QStringLiteral("give either unit or group, not both");
        return false;
    }
    ask.Unit = given.value(QStringLiteral("unit"));
    ask.Group = given.value(QStringLiteral("group"));
    if (!readHistoryFilterWords(given.value(QStringLiteral("since")),
                                given.value(QStringLiteral("until")),
                                given.value(QStringLiteral("source")), now, ask.Filter, problem))
        return false;
    if (given.contains(QStringLiteral("limit"))) {
        bool ok = false;
        ask.Limit = given.value(QStringLiteral("limit")).toInt(&ok);
        if (!ok || ask.Limit < 1 || ask.Limit > HistoryAsk::MaxLimit) {
            problem = QStringLiteral("'limit' takes a number from 1 to %1, not '%2'")
                          .arg(HistoryAsk::MaxLimit)
                          .arg(given.value(QStringLiteral("limit")));
            return false;
        }
    }
    return true;
}

HistoryReader::HistoryReader(const QString& databasePath, QObject* parent)
    : QObject(parent)
    , m_thread(new QThread(this))
    , m_worker(
          new ReaderThreadState(QStringLiteral("KavioHistoryReader-%1").arg(quintptr(this), 0, 16)))
    , m_path(databasePath) {
    m_thread->setObjectName(QStringLiteral("history reader"));
    m_worker->moveToThread(m_thread);
    // The state, and with it the connection, goes in its own thread as the thread ends.
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread->start();
    QMetaObject::invokeMethod(
        m_worker, [] { yieldToExchanges(); }, Qt::QueuedConnection);
}

HistoryReader::~HistoryReader() {
    m_thread->quit();
    m_thread->wait();
}

void HistoryReader::read(const HistoryAsk& ask, std::function<void(const HistoryAnswer&)> done) {
    ++m_waiting;
    const QString connection = static_cast<ReaderThreadState*>(m_worker)->connection;
    QMetaObject::invokeMethod(
        m_worker,
        [this, connection, path = m_path, ask, done = std::move(done)] {
            const HistoryAnswer result = answer(connection, path, ask);
            QMetaObject::invokeMethod(
                this,
                [this, result, done] {
                    --m_waiting;
                    done(result);
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

} // namespace kavio::service
