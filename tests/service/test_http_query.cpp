// The query parameters of the service's HTTP requests, read in-process: the history's filters
// and the decoding every endpoint shares (`+` as a space, percent-encoded UTF-8, each name once).
#include "HistoryRequest.h"
#include "QueryItems.h"

#include <QTest>
#include <QTimeZone>

using namespace kavio;
using namespace kavio::service;

class TestHttpQuery : public QObject {
    Q_OBJECT

private slots:
    void historyAsk_data();
    void historyAsk();
    void historyAskRefusals_data();
    void historyAskRefusals();
    void queryItems_data();
    void queryItems();
};

namespace {

// A fixed "now", in local time as the filters read times without a zone.
QDateTime now() {
    return QDateTime(QDate(2026, 3, 14), QTime(15, 9, 26), QTimeZone::utc());
}

qint64 ms(const char* iso) {
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs).toMSecsSinceEpoch();
}

constexpr qint64 NoSince = std::numeric_limits<qint64>::min();
constexpr qint64 NoUntil = std::numeric_limits<qint64>::max();

} // namespace

void TestHttpQuery::historyAsk_data() {
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QStringList>("sources");
    QTest::addColumn<qint64>("since");
    QTest::addColumn<qint64>("until");
    QTest::addColumn<int>("limit");

    const qint64 nowMs = now().toMSecsSinceEpoch();
    QTest::newRow("nothing") << QByteArray() << QString() << QString() << QStringList() << NoSince
                             << NoUntil << HistoryAsk::DefaultLimit;
    QTest::newRow("stray ampersands") << QByteArray("&&limit=7&") << QString() << QString()
                                      << QStringList() << NoSince << NoUntil << 7;
    QTest::newRow("unit, plus as space")
        << QByteArray("unit=rack+b%2F%C3%BC") << QStringLiteral("rack b/ü") << QString()
        << QStringList() << NoSince << NoUntil << HistoryAsk::DefaultLimit;
    QTest::newRow("an encoded plus stays")
        << QByteArray("group=Lab%2BA") << QString() << QStringLiteral("Lab+A") << QStringList()
        << NoSince << NoUntil << HistoryAsk::DefaultLimit;
    QTest::newRow("group with spaces")
        << QByteArray("group=Lab+A") << QString() << QStringLiteral("Lab A") << QStringList()
        << NoSince << NoUntil << HistoryAsk::DefaultLimit;
    QTest::newRow("source with a blank") << QByteArray("source=timed-poll") << QString()
                                         << QString() << QStringList{QStringLiteral("timed poll")}
                                         << NoSince << NoUntil << HistoryAsk::DefaultLimit;
    QTest::newRow("relative since, zoned until")
        << QByteArray("since=90s&until=2026-03-14T15:00:00Z") << QString() << QString()
        << QStringList() << nowMs - 90000 << ms("2026-03-14T15:00:00Z") << HistoryAsk::DefaultLimit;
    // Every source by the word the history keeps it under, blanks written as '-' or '+'.
    const QList<std::pair<const char*, const char*>> sources = {
        {"button", "button"},
        {"popup", "popup"},
        {"poll", "poll"},
        {"timed+poll", "timed poll"},
        {"timer", "timer"},
        {"cycle-follow-up", "cycle follow-up"},
        {"cycle+follow-up", "cycle follow-up"},
        {"kavioctl", "kavioctl"},
        {"http", "http"},
    };
    for (const auto& [word, kept] : sources)
        QTest::addRow("source %s", word) << QByteArray("source=") + word << QString() << QString()
                                         << QStringList{QString::fromLatin1(kept)} << NoSince
                                         << NoUntil << HistoryAsk::DefaultLimit;
    // Times back from now in each unit, and the forms of an absolute time.
    const QList<std::pair<const char*, qint64>> back = {
        {"15s", 15000},         {"15m", 900000},        {"2h", 7200000},
        {"3d", 3 * 86400000LL}, {"1w", 7 * 86400000LL}, {"0s", 0}};
    for (const auto& [word, ago] : back)
        QTest::addRow("since %s", word)
            << QByteArray("since=") + word << QString() << QString() << QStringList() << nowMs - ago
            << NoUntil << HistoryAsk::DefaultLimit;
    QTest::newRow("until alone") << QByteArray("until=1h") << QString() << QString()
                                 << QStringList() << NoSince << nowMs - 3600000
                                 << HistoryAsk::DefaultLimit;
    QTest::newRow("blanks around a time")
        << QByteArray("since=+%2090s+") << QString() << QString() << QStringList() << nowMs - 90000
        << NoUntil << HistoryAsk::DefaultLimit;
    QTest::newRow("a date is its local midnight")
        << QByteArray("since=2026-03-01") << QString() << QString() << QStringList()
        << QDateTime(QDate(2026, 3, 1), QTime(0, 0)).toMSecsSinceEpoch() << NoUntil
        << HistoryAsk::DefaultLimit;
    QTest::newRow("a time is today's")
        << QByteArray("until=12:30") << QString() << QString() << QStringList() << NoSince
        << QDateTime(now().date(), QTime(12, 30)).toMSecsSinceEpoch() << HistoryAsk::DefaultLimit;
    QTest::newRow("a zone, its plus encoded")
        << QByteArray("since=2026-03-14T15:00:00%2B01:00") << QString() << QString()
        << QStringList() << ms("2026-03-14T14:00:00Z") << NoUntil << HistoryAsk::DefaultLimit;
    QTest::newRow("date and time with a blank")
        << QByteArray("until=2026-03-14+08:15") << QString() << QString() << QStringList()
        << NoSince << QDateTime(QDate(2026, 3, 14), QTime(8, 15)).toMSecsSinceEpoch()
        << HistoryAsk::DefaultLimit;
    QTest::newRow("everything but a group")
        << QByteArray("limit=25&source=http&until=1m&since=1h&unit=rack") << QStringLiteral("rack")
        << QString() << QStringList{QStringLiteral("http")} << nowMs - 3600000 << nowMs - 60000
        << 25;
    QTest::newRow("largest limit") << QByteArray("limit=10000") << QString() << QString()
                                   << QStringList() << NoSince << NoUntil << HistoryAsk::MaxLimit;
    QTest::newRow("smallest limit") << QByteArray("limit=1") << QString() << QString()
                                    << QStringList() << NoSince << NoUntil << 1;
}

void TestHttpQuery::historyAsk() {
    QFETCH(QByteArray, query);
    HistoryAsk ask;
    ask.Limit = -5; // every field is set by the parse
    QString problem;
    QVERIFY2(parseHistoryAsk(query, now(), ask, problem), qPrintable(problem));
    QTEST(ask.Unit, "unit");
    QTEST(ask.Group, "group");
    QFETCH(QString, unit);
    QCOMPARE(ask.Unit.isNull(), unit.isNull());
    QFETCH(QString, group);
    QCOMPARE(ask.Group.isNull(), group.isNull());
    QTEST(ask.Filter.Sources, "sources");
    QTEST(ask.Filter.SinceMs, "since");
    QTEST(ask.Filter.UntilMs, "until");
    QTEST(ask.Limit, "limit");
    // Names are looked up by the caller, not here.
    QVERIFY(!ask.Filter.Unit && !ask.Filter.Group);
}

void TestHttpQuery::historyAskRefusals_data() {
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QString>("problem");
    QTest::newRow("unknown") << QByteArray("units=a")
                             << QStringLiteral("unknown parameter 'units'");
    QTest::newRow("twice") << QByteArray("unit=a&unit=b")
                           << QStringLiteral("'unit' is given twice");
    QTest::newRow("twice, once encoded")
        << QByteArray("limit=5&%6Cimit=6") << QStringLiteral("'limit' is given twice");
    QTest::newRow("empty") << QByteArray("unit=") << QStringLiteral("'unit' needs a value");
    QTest::newRow("no equals") << QByteArray("group") << QStringLiteral("'group' needs a value");
    QTest::newRow("not UTF-8") << QByteArray("unit=%FF") << QStringLiteral("not percent-encoded");
    QTest::newRow("both") << QByteArray("unit=a&group=b") << QStringLiteral("either unit or group");
    QTest::newRow("no time") << QByteArray("since=yesterday")
                             << QStringLiteral("'yesterday' is no time");
    QTest::newRow("no source") << QByteArray("source=cron")
                               << QStringLiteral("'cron' is no source");
    QTest::newRow("no time, until") << QByteArray("since=1h&until=2026-13-01")
                                    << QStringLiteral("'2026-13-01' is no time: give an ISO date");
    QTest::newRow("unit of time unknown")
        << QByteArray("since=90y") << QStringLiteral("'90y' is no time");
    QTest::newRow("a sign is no time")
        << QByteArray("since=-5m") << QStringLiteral("'-5m' is no time");
    QTest::newRow("source in capitals")
        << QByteArray("source=Poll") << QStringLiteral("'Poll' is no source: give button, popup");
    QTest::newRow("empty source") << QByteArray("source=")
                                  << QStringLiteral("'source' needs a value");
    QTest::newRow("empty limit") << QByteArray("limit=") << QStringLiteral("'limit' needs a value");
    QTest::newRow("both, in the other order")
        << QByteArray("group=b&unit=a") << QStringLiteral("either unit or group");
    QTest::newRow("limit 0") << QByteArray("limit=0") << QStringLiteral("from 1 to 10000, not '0'");
    QTest::newRow("limit too large")
        << QByteArray("limit=10001") << QStringLiteral("from 1 to 10000, not '10001'");
    QTest::newRow("limit not a number") << QByteArray("limit=5x") << QStringLiteral("not '5x'");
}

void TestHttpQuery::historyAskRefusals() {
    QFETCH(QByteArray, query);
    QFETCH(QString, problem);
    HistoryAsk ask;
    QString said;
    QVERIFY(!parseHistoryAsk(query, now(), ask, said));
    QVERIFY2(said.contains(problem), qPrintable(said));
}

void TestHttpQuery::queryItems_data() {
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("values");
    QTest::newRow("form encoding")
        << QByteArray("hostname=Lab+A%2B1&port=01") << true
        << QStringList{QStringLiteral("hostname"), QStringLiteral("port")}
        << QStringList{QStringLiteral("Lab A+1"), QStringLiteral("01")};
    QTest::newRow("a name with a plus")
        << QByteArray("a+b=c") << true << QStringList{QStringLiteral("a b")}
        << QStringList{QStringLiteral("c")};
    QTest::newRow("no value is empty, not null")
        << QByteArray("alias") << true << QStringList{QStringLiteral("alias")}
        << QStringList{QStringLiteral("")};
    QTest::newRow("no name") << QByteArray("=x") << true << QStringList{QString()}
                             << QStringList{QStringLiteral("x")};
    QTest::newRow("repeated") << QByteArray("port=1&port=2") << false << QStringList()
                              << QStringList();
    QTest::newRow("not UTF-8") << QByteArray("alias=%C3") << false << QStringList()
                               << QStringList();
}

void TestHttpQuery::queryItems() {
    QFETCH(QByteArray, query);
    QFETCH(QStringList, names);
    QFETCH(QStringList, values);
    QueryItems items;
    QString problem;
    QTEST(items.parse(query, {}, problem), "valid");
    if (names.isEmpty()) {
        QVERIFY(!problem.isEmpty());
        return;
    }
    QCOMPARE(items.items().size(), names.size());
    for (qsizetype at = 0; at < names.size(); ++at) {
        QVERIFY(items.has(names[at]));
        QCOMPARE(items.value(names[at]), values[at]);
        QVERIFY(!items.value(names[at]).isNull());
    }
    QVERIFY(items.value(QStringLiteral("absent")).isNull());
    QVERIFY(!items.has(QStringLiteral("absent")));
    // A name outside the known ones is refused when names are given.
    QVERIFY(!items.parse(query, {QStringLiteral("other")}, problem));
    QVERIFY2(problem.contains(QStringLiteral("unknown parameter")), qPrintable(problem));
}

QTEST_GUILESS_MAIN(TestHttpQuery)
#include "test_http_query.moc"
