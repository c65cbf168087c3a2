// The checks kaviod makes on a request head before anything is served: its framing, the Host
// and site it comes from, and the token it carries.
#include "BearerToken.h"
#include "HttpGuard.h"
#include "RequestOrigin.h"

#include <QtTest>
#include <sys/stat.h>

using kavio::service::BearerToken;
using kavio::service::ConnectionGuard;
using kavio::service::RequestFraming;
using kavio::service::RequestOrigin;

class TestHttpHead : public QObject {
    Q_OBJECT

private slots:
    void malformation_data();
    void malformation();
    void wrongHost_data();
    void wrongHost();
    void otherSite_data();
    void otherSite();
    void bearer_data();
    void bearer();
    void tokenFile_data();
    void tokenFile();
    void splitHost_data();
    void splitHost();
};

void TestHttpHead::malformation_data() {
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QString>("problem"); // the start of the reason; empty: HTTP
    QTest::addColumn<qint64>("length");
    QTest::addColumn<QString>("flags"); // h HEAD, c close, 0 HTTP/1.0, t Transfer-Encoding

    QTest::newRow("plain GET") << QByteArray("GET /metrics HTTP/1.1\r\nHost: a\r\n\r\n")
                               << QString() << qint64(0) << QString();
    QTest::newRow("no headers") << QByteArray("GET / HTTP/1.1\r\n\r\n") << QString() << qint64(0)
                                << QString();
    QTest::newRow("body") << QByteArray("POST /x HTTP/1.1\r\ncontent-LENGTH:  12 \r\n\r\n")
                          << QString() << qint64(12) << QString();
    QTest::newRow("same length twice")
        << QByteArray("POST /x HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 3\r\n\r\n")
        << QString() << qint64(3) << QString();
    QTest::newRow("two lengths")
        << QByteArray("POST /x HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\n")
        << QStringLiteral("two different Content-Lengths") << qint64(0) << QString();
    QTest::newRow("negative length")
        << QByteArray("POST /x HTTP/1.1\r\nContent-Length: -5\r\n\r\n")
        << QStringLiteral("a Content-Length that is no number") << qint64(0) << QString();
    QTest::newRow("signed length")
        << QByteArray("POST /x HTTP/1.1\r\nContent-Length: +5\r\n\r\n")
        << QStringLiteral("a Content-Length that is no number") << qint64(0) << QString();
    QTest::newRow("empty length") << QByteArray("POST /x HTTP/1.1\r\nContent-Length:\r\n\r\n")
                                  << QStringLiteral("a Content-Length that is no number")
                                  << qint64(0) << QString();
    QTest::newRow("huge length")
        << QByteArray("POST /x HTTP/1.1\r\nContent-Length: 9999999999999999999\r\n\r\n")
        << QStringLiteral("a Content-Length that is no number") << qint64(0) << QString();
    QTest::newRow("HEAD") << QByteArray("HEAD /metrics HTTP/1.1\r\n\r\n") << QString() << qint64(0)
                          << QStringLiteral("h");
    QTest::newRow("close") << QByteArray("GET / HTTP/1.1\r\nConnection: Keep-Alive, CLOSE\r\n\r\n")
                           << QString() << qint64(0) << QStringLiteral("c");
    QTest::newRow("a close that is not the token")
        << QByteArray("GET / HTTP/1.1\r\nConnection: closed\r\n\r\n") << QString() << qint64(0)
        << QString();
    QTest::newRow("HTTP/1.0") << QByteArray("GET / HTTP/1.0\r\n\r\n") << QString() << qint64(0)
                              << QStringLiteral("c0");
    QTest::newRow("HTTP/1.0 kept alive")
        << QByteArray("GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n") << QString() << qint64(0)
        << QStringLiteral("0");
    QTest::newRow("chunked") << QByteArray("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n")
                             << QString() << qint64(0) << QStringLiteral("t");
    QTest::newRow("garbage") << QByteArray("GARBAGE\r\n\r\n")
                             << QStringLiteral("not a request line: GARBAGE") << qint64(0)
                             << QString();
    QTest::newRow("lower-case method")
        << QByteArray("get / HTTP/1.1\r\n\r\n") << QStringLiteral("not a request line") << qint64(0)
        << QString();
    QTest::newRow("HTTP/2") << QByteArray("GET / HTTP/2.0\r\n\r\n")
                            << QStringLiteral("not a request line") << qint64(0) << QString();
    QTest::newRow("no path") << QByteArray("GET x HTTP/1.1\r\n\r\n")
                             << QStringLiteral("not a request line") << qint64(0) << QString();
    QTest::newRow("space in path")
        << QByteArray("GET /a b HTTP/1.1\r\n\r\n") << QStringLiteral("not a request line")
        << qint64(0) << QString();
    QTest::newRow("no colon") << QByteArray("GET / HTTP/1.1\r\nno colon here\r\n\r\n")
                              << QStringLiteral("not a header line: no colon here") << qint64(0)
                              << QString();
    QTest::newRow("space before colon")
        << QByteArray("GET / HTTP/1.1\r\nHost : a\r\n\r\n") << QStringLiteral("not a header line")
        << qint64(0) << QString();
    QTest::newRow("control character")
        << QByteArray("GET / HTTP/1.1\r\nX: a\x01\r\n\r\n") << QStringLiteral("not a header line")
        << qint64(0) << QString();
    QTest::newRow("bare LF") << QByteArray("GET / HTTP/1.1\nHost: a\r\n\r\n")
                             << QStringLiteral("a line without CR LF") << qint64(0) << QString();
    QTest::newRow("no empty line")
        << QByteArray("GET / HTTP/1.1\r\n") << QStringLiteral("a head without its empty line")
        << qint64(0) << QString();
    QTest::newRow("16-letter method")
        << QByteArray("ABCDEFGHIJKLMNOP / HTTP/1.1\r\n\r\n") << QString() << qint64(0) << QString();
    QTest::newRow("17-letter method")
        << QByteArray("ABCDEFGHIJKLMNOPQ / HTTP/1.1\r\n\r\n")
        << QStringLiteral("not a request line") << qint64(0) << QString();
    QTest::newRow("HEADER is no HEAD")
        << QByteArray("HEADER / HTTP/1.1\r\n\r\n") << QString() << qint64(0) << QString();
    QTest::newRow("query") << QByteArray("GET /a?b=c&d=%20~ HTTP/1.1\r\n\r\n") << QString()
                           << qint64(0) << QString();
    QTest::newRow("DEL in path") << QByteArray("GET /a\x7f HTTP/1.1\r\n\r\n")
                                 << QStringLiteral("not a request line") << qint64(0) << QString();
    QTest::newRow("byte above ASCII in path")
        << QByteArray("GET /\xc3\xbc HTTP/1.1\r\n\r\n") << QStringLiteral("not a request line")
        << qint64(0) << QString();
    QTest::newRow("tab and bytes above ASCII in a value")
        << QByteArray("GET / HTTP/1.1\r\nX-Name:\tr\xc3\xbc"
                      "ck\r\n\r\n")
        << QString() << qint64(0) << QString();
    QTest::newRow("a name of other characters")
        << QByteArray("GET / HTTP/1.1\r\nX(y): 1\r\n\r\n") << QStringLiteral("not a header line")
        << qint64(0) << QString();
    QTest::newRow("18 digits of length")
        << QByteArray("POST /x HTTP/1.1\r\nContent-Length: 000000000000000012\r\n\r\n") << QString()
        << qint64(12) << QString();
    QTest::newRow("blank inside the length")
        << QByteArray("POST /x HTTP/1.1\r\nContent-Length: 1 2\r\n\r\n")
        << QStringLiteral("a Content-Length that is no number") << qint64(0) << QString();
    QTest::newRow("any Transfer-Encoding")
        << QByteArray("POST / HTTP/1.1\r\ntransfer-encoding: identity\r\n\r\n") << QString()
        << qint64(0) << QStringLiteral("t");
    QTest::newRow("HTTP/1.0, close over keep-alive")
        << QByteArray("GET / HTTP/1.0\r\nConnection: keep-alive\r\nConnection: close\r\n\r\n")
        << QString() << qint64(0) << QStringLiteral("c0");
    QTest::newRow("keep-alive on HTTP/1.1 after close")
        << QByteArray("GET / HTTP/1.1\r\nConnection: close\r\nConnection: keep-alive\r\n\r\n")
        << QString() << qint64(0) << QStringLiteral("c");
    QByteArray many = "GET / HTTP/1.1\r\n";
    for (int header = 0; header < 64; ++header)
        many += "X-" + QByteArray::number(header) + ": 1\r\n";
    QTest::newRow("64 headers") << many + "\r\n" << QString() << qint64(0) << QString();
    QTest::newRow("65 headers") << many + "X: 1\r\n\r\n"
                                << QStringLiteral("more than 64 header lines") << qint64(0)
                                << QString();
}

void TestHttpHead::malformation() {
    QFETCH(QByteArray, head);
    QFETCH(QString, problem);
    QFETCH(qint64, length);
    QFETCH(QString, flags);
    // Whatever the framing held before, it is the request's own after.
    RequestFraming framing;
    framing.contentLength = 77;
    framing.head = framing.close = framing.http10 = framing.chunked = true;
    const QString why = ConnectionGuard::malformation(head, framing);
    if (problem.isEmpty())
        QCOMPARE(why, QString());
    else
        QVERIFY2(why.startsWith(problem), qPrintable(why));
    if (!problem.isEmpty())
        return;
    QCOMPARE(framing.contentLength, length);
    QCOMPARE(framing.head, flags.contains(QLatin1Char('h')));
    QCOMPARE(framing.close, flags.contains(QLatin1Char('c')));
    QCOMPARE(framing.http10, flags.contains(QLatin1Char('0')));
    QCOMPARE(framing.chunked, flags.contains(QLatin1Char('t')));
}

void TestHttpHead::wrongHost_data() {
    QTest::addColumn<QString>("listen");
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("tls");
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<bool>("answered");

    const QString v4 = QStringLiteral("127.0.0.1");
    QTest::newRow("address") << v4 << 16421 << false << QByteArray("127.0.0.1:16421") << true;
    QTest::newRow("localhost") << v4 << 16421 << false << QByteArray("localhost:16421") << true;
    QTest::newRow("LOCALHOST") << v4 << 16421 << false << QByteArray("LOCALHOST:16421") << true;
    QTest::newRow("given name") << v4 << 16421 << false << QByteArray("Lab-Host.example:16421")
                                << true;
    QTest::newRow("given name, no port")
        << v4 << 80 << false << QByteArray("lab-host.example") << true;
    QTest::newRow("no port, not 80") << v4 << 16421 << false << QByteArray("localhost") << false;
    QTest::newRow("no port, TLS on 443") << v4 << 443 << true << QByteArray("localhost") << true;
    QTest::newRow("80 with TLS") << v4 << 80 << true << QByteArray("localhost") << false;
    QTest::newRow("other port") << v4 << 16421 << false << QByteArray("localhost:16422") << false;
    QTest::newRow("port too big") << v4 << 16421 << false << QByteArray("localhost:99999") << false;
    QTest::newRow("other name") << v4 << 16421 << false << QByteArray("evil.example:16421")
                                << false;
    QTest::newRow("suffix of a name")
        << v4 << 16421 << false << QByteArray("host.example:16421") << false;
    QTest::newRow("other loopback")
        << v4 << 16421 << false << QByteArray("127.0.0.2:16421") << false;
    QTest::newRow("address as a number")
        << v4 << 16421 << false << QByteArray("2130706433:16421") << false;
    QTest::newRow("empty") << v4 << 16421 << false << QByteArray() << false;
    QTest::newRow("user info") << v4 << 16421 << false << QByteArray("a@localhost:16421") << false;
    QTest::newRow("localhost off loopback")
        << QStringLiteral("192.0.2.7") << 16421 << false << QByteArray("localhost:16421") << false;
    QTest::newRow("address off loopback")
        << QStringLiteral("192.0.2.7") << 16421 << false << QByteArray("192.0.2.7:16421") << true;
    QTest::newRow("any address") << QStringLiteral("0.0.0.0") << 16421 << false
                                 << QByteArray("0.0.0.0:16421") << true;
    QTest::newRow("IPv6") << QStringLiteral("::1") << 16421 << false << QByteArray("[::1]:16421")
                          << true;
    QTest::newRow("IPv6 written longer")
        << QStringLiteral("::1") << 16421 << false << QByteArray("[0:0::1]:16421") << true;
    QTest::newRow("IPv6 localhost")
        << QStringLiteral("::1") << 16421 << false << QByteArray("localhost:16421") << true;
    QTest::newRow("IPv4 on IPv6") << QStringLiteral("::1") << 16421 << false
                                  << QByteArray("127.0.0.1:16421") << false;
    QTest::newRow("IPv6 on IPv4") << v4 << 16421 << false << QByteArray("[::1]:16421") << false;
}

void TestHttpHead::wrongHost() {
    QFETCH(QString, listen);
    QFETCH(int, port);
    QFETCH(bool, tls);
    QFETCH(QByteArray, host);
    QFETCH(bool, answered);
    const RequestOrigin origin(QHostAddress(listen), quint16(port), tls,
                               {QStringLiteral("Lab-Host.example")});
    const QString why = origin.wrongHost(host);
    QVERIFY2(why.isEmpty() == answered, qPrintable(why));
    if (!answered)
        QVERIFY(why.contains(QStringLiteral("Host")));
}

void TestHttpHead::otherSite_data() {
    QTest::addColumn<QByteArray>("fetchSite");
    QTest::addColumn<QByteArray>("origin");
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<bool>("tls");
    QTest::addColumn<bool>("refused");

    const QByteArray host = "localhost:16421";
    QTest::newRow("a lab client") << QByteArray() << QByteArray() << host << false << false;
    QTest::newRow("cross-site") << QByteArray("cross-site") << QByteArray() << host << false
                                << true;
    QTest::newRow("Same-Site") << QByteArray(" Same-Site") << QByteArray() << host << false << true;
    QTest::newRow("same-origin") << QByteArray("same-origin") << QByteArray() << host << false
                                 << false;
    QTest::newRow("typed by the user")
        << QByteArray("none") << QByteArray() << host << false << false;
    QTest::newRow("own origin") << QByteArray() << QByteArray("http://localhost:16421") << host
                                << false << false;
    QTest::newRow("own origin upper case")
        << QByteArray() << QByteArray("http://LocalHost:16421") << host << false << false;
    QTest::newRow("own origin, cross-site")
        << QByteArray("cross-site") << QByteArray("http://localhost:16421") << host << false
        << true;
    QTest::newRow("other host") << QByteArray() << QByteArray("http://127.0.0.2:8000") << host
                                << false << true;
    QTest::newRow("same host, other port")
        << QByteArray() << QByteArray("http://localhost:16422") << host << false << true;
    QTest::newRow("loopback by address")
        << QByteArray() << QByteArray("http://127.0.0.1:16421") << host << false << true;
    QTest::newRow("https to http")
        << QByteArray() << QByteArray("https://localhost:16421") << host << false << true;
    QTest::newRow("https to https")
        << QByteArray() << QByteArray("https://localhost:16421") << host << true << false;
    QTest::newRow("null") << QByteArray() << QByteArray("null") << host << false << true;
    QTest::newRow("empty") << QByteArray() << QByteArray("") << host << false << true;
    QTest::newRow("with a path") << QByteArray() << QByteArray("http://localhost:16421/x") << host
                                 << false << true;
    QTest::newRow("usual port") << QByteArray() << QByteArray("http://localhost")
                                << QByteArray("localhost:80") << false << false;
    QTest::newRow("usual port left out") << QByteArray() << QByteArray("http://localhost:80")
                                         << QByteArray("localhost") << false << false;
    QTest::newRow("IPv6") << QByteArray() << QByteArray("http://[::1]:16421")
                          << QByteArray("[::1]:16421") << false << false;
}

void TestHttpHead::otherSite() {
    QFETCH(QByteArray, fetchSite);
    QFETCH(QByteArray, origin);
    QFETCH(QByteArray, host);
    QFETCH(bool, tls);
    QFETCH(bool, refused);
    const RequestOrigin check(QHostAddress::LocalHost, 16421, tls, {});
    const QString why = check.otherSite(fetchSite, origin, host);
    QVERIFY2(why.isEmpty() != refused, qPrintable(why));
}

void TestHttpHead::bearer_data() {
    QTest::addColumn<QByteArray>("authorization");
    QTest::addColumn<bool>("matches");

    QTest::newRow("Bearer") << QByteArray("Bearer t0ken-value") << true;
    QTest::newRow("bearer") << QByteArray("bearer t0ken-value") << true;
    QTest::newRow("BEARER, spaces") << QByteArray("  BEARER   t0ken-value ") << true;
    QTest::newRow("no scheme") << QByteArray("t0ken-value") << false;
    QTest::newRow("Basic") << QByteArray("Basic t0ken-value") << false;
    QTest::newRow("Bearer2") << QByteArray("Bearer2 t0ken-value") << false;
    QTest::newRow("prefix") << QByteArray("Bearer t0ken-valu") << false;
    QTest::newRow("longer") << QByteArray("Bearer t0ken-value1") << false;
    QTest::newRow("last byte") << QByteArray("Bearer t0ken-valuf") << false;
    QTest::newRow("first byte") << QByteArray("Bearer u0ken-value") << false;
    QTest::newRow("case of the token") << QByteArray("Bearer T0KEN-VALUE") << false;
    QTest::newRow("empty token") << QByteArray("Bearer ") << false;
    QTest::newRow("nothing") << QByteArray() << false;
    QTest::newRow("padded with NUL") << QByteArray("Bearer t0ken-value\0", 19) << false;
}

void TestHttpHead::bearer() {
    QFETCH(QByteArray, authorization);
    QFETCH(bool, matches);
    QCOMPARE(BearerToken::matches(authorization, "t0ken-value"), matches);
    QVERIFY(!BearerToken::matches(authorization, QByteArray()));
}

void TestHttpHead::tokenFile_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("token"); // empty: refused
    QTest::addColumn<QString>("problem");

    QTest::newRow("one line") << QByteArray("t0ken-value\n") << 0600 << QByteArray("t0ken-value")
                              << QString();
    QTest::newRow("owner only, read-only")
        << QByteArray(" abc ") << 0400 << QByteArray("abc") << QString();
    QTest::newRow("group can read")
        << QByteArray("abc\n") << 0640 << QByteArray() << QStringLiteral("can be read by others");
    QTest::newRow("others can write")
        << QByteArray("abc\n") << 0602 << QByteArray() << QStringLiteral("can be read by others");
    QTest::newRow("two lines") << QByteArray("abc\ndef\n") << 0600 << QByteArray()
                               << QStringLiteral("holds no token");
    QTest::newRow("empty") << QByteArray("\n") << 0600 << QByteArray()
                           << QStringLiteral("holds no token");
    QTest::newRow("a blank inside")
        << QByteArray("ab cd\n") << 0600 << QByteArray() << QStringLiteral("holds no token");
    QTest::newRow("4096 bytes") << QByteArray(4096, 'x') << 0600 << QByteArray(4096, 'x')
                                << QString();
    QTest::newRow("4097 bytes") << QByteArray(4097, 'x') << 0600 << QByteArray()
                                << QStringLiteral("longer than 4096 bytes");
    QTest::newRow("too long") << QByteArray(5000, 'x') << 0600 << QByteArray()
                              << QStringLiteral("longer than 4096 bytes");
}

void TestHttpHead::tokenFile() {
    QFETCH(QByteArray, content);
    QFETCH(int, mode);
    QFETCH(QByteArray, token);
    QFETCH(QString, problem);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("token"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), content.size());
    file.close();
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode_t(mode)), 0);

    QByteArray read;
    QString said;
    QCOMPARE(BearerToken::read(path, read, said), !token.isEmpty());
    if (token.isEmpty()) {
        QVERIFY2(said.contains(problem), qPrintable(said));
    } else {
        QVERIFY2(said.isEmpty(), qPrintable(said));
        QCOMPARE(read, token);
    }
    // A folder is no token file, nor is a FIFO, which is refused at once rather than waited on.
    QVERIFY(!BearerToken::read(dir.path(), read, said));
    QVERIFY2(said.contains(QStringLiteral("not a regular file")), qPrintable(said));
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!BearerToken::read(fifo, read, said));
    QVERIFY2(said.contains(QStringLiteral("not a regular file")), qPrintable(said));
    QVERIFY(clock.elapsed() < 5000);
    QVERIFY(!BearerToken::read(dir.filePath(QStringLiteral("missing")), read, said));
    QVERIFY2(said.contains(QStringLiteral("cannot be read")), qPrintable(said));
}

void TestHttpHead::splitHost_data() {
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("port");

    QTest::newRow("name") << QByteArray("Lab.Example") << true << QStringLiteral("lab.example")
                          << -1;
    QTest::newRow("name and port")
        << QByteArray("localhost:16421") << true << QStringLiteral("localhost") << 16421;
    QTest::newRow("IPv6") << QByteArray("[::1]:80") << true << QStringLiteral("[::1]") << 80;
    QTest::newRow("largest port") << QByteArray("a:65535") << true << QStringLiteral("a") << 65535;
    QTest::newRow("port too big") << QByteArray("a:65536") << false << QString() << -1;
    QTest::newRow("empty port") << QByteArray("a:") << false << QString() << -1;
    QTest::newRow("user info") << QByteArray("u@a:1") << false << QString() << -1;
    QTest::newRow("two ports") << QByteArray("a:1:2") << false << QString() << -1;
    QTest::newRow("bare IPv6") << QByteArray("::1") << false << QString() << -1;
    QTest::newRow("empty") << QByteArray() << false << QString() << -1;
}

void TestHttpHead::splitHost() {
    QFETCH(QByteArray, host);
    QFETCH(bool, valid);
    QFETCH(QString, name);
    QFETCH(int, port);
    QString gotName = QStringLiteral("unchanged");
    int gotPort = -7;
    QCOMPARE(RequestOrigin::splitHost(host, gotName, gotPort), valid);
    if (valid)
        QCOMPARE(std::make_pair(gotName, gotPort), std::make_pair(name, port));
}

QTEST_GUILESS_MAIN(TestHttpHead)
#include "test_http_head.moc"
