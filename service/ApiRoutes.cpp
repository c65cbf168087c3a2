#include "ApiRoutes.h"

#include "CommandEngine.h"
#include "CommandWaiters.h"
#include "ControlCharacters.h"
#include "DelayedReboots.h"
#include "HistoryRequest.h"
#include "HttpGuard.h"
#include "HttpReplies.h"
#include "Metrics.h"
#include "QueryItems.h"
#include "StatusWords.h"
#include "StoreListing.h"
#include "UnitDirectory.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTcpSocket>

namespace kavio::service {
namespace {

QJsonObject recordJson(const StoredRecord& record) {
    bool number = false;
    const int port = record.port.toInt(&number);
    return QJsonObject{
        {QStringLiteral("name"), record.name},
        {QStringLiteral("kind"), record.group ? QStringLiteral("group") : QStringLiteral("unit")},
        {QStringLiteral("index"), record.index},
        {QStringLiteral("address"), record.address},
        {QStringLiteral("port"), number ? QJsonValue(port) : QJsonValue()},
        {QStringLiteral("groups"), QJsonArray::fromStringList(record.groups)},
        {QStringLiteral("status"),
         record.group ? QJsonValue() : QJsonValue(statusWord(record.status))},
        {QStringLiteral("timer"), record.timer},
    };
}

// A time as the history writes its times: UTC, to the millisecond, ending in Z.
QString utcTime(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms).toUTC().toString(Qt::ISODateWithMs);
}

// `offset` and `limit` of a listing's query; false with the reason on a fault.
bool readPage(const QUrl& url, int defaultLimit, int maxLimit, Page& page, QString& problem) {
    QueryItems items;
    if (!items.parse(url.query(QUrl::FullyEncoded).toLatin1(),
                     {QStringLiteral("limit"), QStringLiteral("offset")}, problem))
        return false;
    page = Page{0, defaultLimit};
    if (items.has(QStringLiteral("limit"))) {
        bool ok = false;
        page.limit = items.value(QStringLiteral("limit")).toInt(&ok);
        if (!ok || page.limit < 1 || page.limit > maxLimit) {
            problem = QStringLiteral("'limit' takes a number from 1 to %1, not '%2'")
                          .arg(maxLimit)
                          .arg(items.value(QStringLiteral("limit")));
            return false;
        }
    }
    if (items.has(QStringLiteral("offset"))) {
        bool ok = false;
        page.offset = items.value(QStringLiteral("offset")).toInt(&ok);
        if (!ok || page.offset < 0) {
            problem = QStringLiteral("'offset' takes a number from 0, not '%1'")
                          .arg(items.value(QStringLiteral("offset")));
            return false;
        }
    }
    return true;
}

} // namespace

ApiRoutes::ApiRoutes(TCommandEngine& engine, CommandWaiters& waiters, const DelayedReboots& reboots,
                     StoreListing& listing, HistoryReader& history)
    : m_engine(engine)
    , m_waiters(waiters)
    , m_reboots(reboots)
    , m_listing(listing)
    , m_history(history) {}

void ApiRoutes::addTo(RouteTable& table) {
    table.add(Readable, QStringLiteral("/api/v1/units"), Access::Read,
              [this](const RouteCall& call) { units(call); });
    table.add(Readable, QStringLiteral("/api/v1/units/{name}"), Access::Read,
              [this](const RouteCall& call) { unit(call); });
    table.add(Readable, QStringLiteral("/api/v1/groups"), Access::Read,
              [this](const RouteCall& call) { groups(call); });
    table.add(Readable, QStringLiteral("/api/v1/queue"), Access::Read,
              [this](const RouteCall& call) { queue(call); });
    table.add(Readable, QStringLiteral("/api/v1/history"), Access::Read,
              [this](const RouteCall& call) { history(call); });
    table.add(Method::Post, QStringLiteral("/api/v1/units/{name}/{command}"), Access::Switch,
              [this](const RouteCall& call) { command(call, false); });
    table.add(Method::Post, QStringLiteral("/api/v1/groups/{name}/{command}"), Access::Switch,
              [this](const RouteCall& call) { command(call, true); });
}

void ApiRoutes::unit(const RouteCall& call) {
    const QString name = call.part(QStringLiteral("name"));
    const std::optional<StoredRecord> record = directory::readUnit(name);
    if (!record)
        return writeJsonError(call.socket, 404, QStringLiteral("no unit named '%1'").arg(name));
    writeResponse(call.socket, 200, JsonType, jsonBody(recordJson(*record)));
}

// One page of a listing, made on the reader thread from the store's snapshot: `size` gives the
// listing's length, `entry` its record at a position.
void ApiRoutes::listPage(const RouteCall& call, const QString& kind,
                         std::function<size_t(const StoreSnapshot&)> size,
                         std::function<QJsonObject(const StoreSnapshot&, size_t)> entry,
                         QJsonDocument::JsonFormat format) {
    Page page;
    QString problem;
    if (!readPage(call.request.url(), DefaultPageLimit, MaxPageLimit, page, problem))
        return writeJsonError(call.socket, 400, problem);
    answerFromListing(
        m_listing, call.socket,
        [page, size, entry, format](const StoreSnapshot& store) {
            QJsonArray list;
            const size_t total = size(store);
            const size_t end = std::min(total, size_t(page.offset) + size_t(page.limit));
            for (size_t at = size_t(page.offset); at < end; ++at)
                list.append(entry(store, at));
            return ListingAnswer{200, QJsonDocument(list).toJson(format), pageHeaders(page, total)};
        },
        QStringLiteral("%1 %2 %3").arg(kind).arg(page.offset).arg(page.limit));
}

void ApiRoutes::units(const RouteCall& call) {
    listPage(
        call, QStringLiteral("units"),
        [](const StoreSnapshot& store) { return store.units.size(); },
        [](const StoreSnapshot& store, size_t at) { return recordJson(store.units[at]); },
        QJsonDocument::Compact);
}

void ApiRoutes::groups(const RouteCall& call) {
    listPage(
        call, QStringLiteral("groups"),
        [](const StoreSnapshot& store) { return store.groups.size(); },
        [](const StoreSnapshot& store, size_t at) {
            QJsonObject object = recordJson(store.groups[at]);
            object.insert(QStringLiteral("members"), QJsonArray::fromStringList(store.members[at]));
            return object;
        },
        QJsonDocument::Indented);
}

// The number of commands not finished, and the first `limit` of them, each with the time it is
// expected to start at the pacing seen so far; the ons of reboots waiting out their delay are
// listed apart.
void ApiRoutes::queue(const RouteCall& call) {
    Page page;
    QString problem;
    if (!readPage(call.request.url(), DefaultQueueLimit, MaxQueueLimit, page, problem))
        return writeJsonError(call.socket, 400, problem);
    const QList<TCommandEntry> waiting = m_engine.unfinished();
    const int left = m_engine.entriesLeft();
    const double perEntry = left > 0 ? double(m_engine.estimatedMsLeft()) / left : 0;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const int underWay = int(waiting.size()) - left;
    const int end = int(std::min<qint64>(waiting.size(), qint64(page.offset) + page.limit));
    const QList<DelayedReboots::Waiting> reboots = m_reboots.first(page.limit);
    QSet<quint16> keys;
    for (int position = page.offset; position < end; ++position)
        keys.insert(waiting[position].Index);
    for (const DelayedReboots::Waiting& each : reboots)
        keys.insert(each.index);
    const QHash<quint16, QString> names = directory::namesOf(keys);
    QJsonArray entries;
    for (int position = page.offset; position < end; ++position) {
        const TCommandEntry& entry = waiting[position];
        const int ahead = position - underWay;
        entries.append(QJsonObject{
            {QStringLiteral("position"), position},
            {QStringLiteral("index"), entry.Index},
            {QStringLiteral("name"), names.value(entry.Index)},
            {QStringLiteral("command"), taskWord(entry.Task)},
            {QStringLiteral("source"), sourceName(entry.Source)},
            {QStringLiteral("under_way"), ahead < 0},
            {QStringLiteral("estimated_start"),
             ahead < 0 ? QJsonValue()
                       : QJsonValue(utcTime(
                             now + qint64(ahead / qMax(1, m_engine.parallel()) * perEntry)))},
        });
    }
    QJsonArray delayed;
    for (const DelayedReboots::Waiting& each : reboots) {
        delayed.append(QJsonObject{
            {QStringLiteral("index"), each.index},
            {QStringLiteral("name"), names.value(each.index)},
            {QStringLiteral("command"), taskWord(TaskPowerOn)},
            {QStringLiteral("source"), sourceName(CommandSource::Http)},
            {QStringLiteral("queued_at"),
             each.dueMs ? QJsonValue(utcTime(each.dueMs)) : QJsonValue()},
        });
    }
    const QJsonObject listing{
        {QStringLiteral("count"), qint64(waiting.size()) + qint64(m_reboots.count())},
        {QStringLiteral("entries"), entries},
        {QStringLiteral("delayed"), delayed},
    };
    writeResponse(call.socket, 200, JsonType, jsonBody(listing),
                  pageHeaders(page, size_t(waiting.size())));
}

// The rows of `kavioctl history --json`, the newest `limit` of them, oldest first. When more
// matched, the header Kavio-More-Rows says so (the next older page ends at the first row's time).
void ApiRoutes::history(const RouteCall& call) {
    HistoryAsk ask;
    QString problem;
    if (!parseHistoryAsk(call.request.url().query(QUrl::FullyEncoded).toLatin1(),
                         QDateTime::currentDateTime(), ask, problem))
        return writeJsonError(call.socket, 400, problem);
    // Master's names are looked up here; only the history itself is read away from the loop.
    if (!ask.Group.isNull()) {
        ask.Filter.Group = GroupKeyByName(ask.Group);
        if (!ask.Filter.Group)
            return writeJsonError(call.socket, 404,
                                  QStringLiteral("no group is named '%1'").arg(ask.Group));
    }
    if (!ask.Unit.isNull())
        ask.Filter.Unit = UnitKeyByName(ask.Unit);
    if (m_history.waiting() >= MaxHistoryWaiting) {
        writeResponse(call.socket, 503, JsonType,
                      errorBody(QStringLiteral("the history is being read for other requests: "
                                               "try again shortly")),
                      {{"Retry-After", "1"}});
        return;
    }
    m_history.read(ask, [socket = QPointer<QTcpSocket>(call.socket)](const HistoryAnswer& answer) {
        QList<QPair<QByteArray, QByteArray>> headers;
        if (answer.More)
            headers.emplaceBack("Kavio-More-Rows", "true");
        writeResponse(socket, answer.Status, JsonType, answer.Body, headers);
    });
}

// A command for a unit, or for a group's members, read by themselves.
void ApiRoutes::command(const RouteCall& call, bool group) {
    const QString name = call.part(QStringLiteral("name"));
    const QString word = call.part(QStringLiteral("command"));
    const std::optional<quint8> task = commandTask(word);
    if (!task)
        return writeJsonError(call.socket, 400, QStringLiteral("unknown command '%1'").arg(word));
    const std::optional<UnitTarget> record =
        group ? directory::findGroup(name) : directory::findUnit(name);
    if (!record)
        return writeJsonError(
            call.socket, 404,
            QStringLiteral("no %1 named '%2'")
                .arg(group ? QStringLiteral("group") : QStringLiteral("unit"), name));
    QList<UnitTarget> targets;
    if (group) {
        targets = directory::groupMembers(name);
        if (targets.isEmpty())
            return writeJsonError(
                call.socket, 404,
                QStringLiteral("the group \"%1\" has no units").arg(escapeControlCharacters(name)));
    } else {
        targets << *record;
    }
    m_waiters.command(targets, *task, Reply::Json, call.socket);
}

} // namespace kavio::service
