#include "UIPAddrUtils.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTest>

using namespace kavio;

namespace {

// How a validation ended: "ok", or the kind of error and the text of its fault (for an
// assertion the text of the check, without the module and line).
struct Verdict {
    QString kind;
    QString text;
    bool operator==(const Verdict&) const = default;
};

Verdict validate(const QString& address) {
    try {
        ValidateIPString(address);
        return {QStringLiteral("ok"), {}};
    } catch (const AssertionFailure& failure) {
        return {QStringLiteral("assertion"), failure.text()};
    } catch (const IPAddressError& error) {
        return {QStringLiteral("error"), error.message()};
    }
}

// The rules written out a second time, piece by piece from a split, without the normalised
// form. The message is given as the text around the quoted address.
struct Expected {
    const char* kind;
    const char* before = "";
    QString after = QStringLiteral("]");
};

Expected reference(const QString& s) {
    if (s.size() > 15)
        return {"assertion", "Illegal length for IPString![",
                QStringLiteral("(%1)]").arg(s.size())};
    const QStringList pieces = s.split(u'.');
    if (pieces.size() != 4)
        return {"assertion", "Must include exactly 3 dots! ["};
    for (const QString& p : pieces) {
        if (p.isEmpty() || p.size() > 3)
            return {"error", "IPAddress must include 4 pieces of length 1..3. IPAddressString["};
        if (p.size() > 1 && p.startsWith(u'0'))
            return {"error", "Leading zero not allowed. IPAddressString["};
    }
    for (const QString& p : pieces) {
        int value = 0;
        for (const QChar c : p) {
            if (!QStringLiteral("0123456789").contains(c))
                return {"error", "IP Address contains illegal symbols. IPAddressString["};
            value = value * 10 + (c.unicode() - '0');
        }
        if (value > 255)
            return {"error", "Triplets must be of range 0..255  IPAddressString["};
    }
    return {"ok"};
}

bool agrees(const Verdict& actual, const Expected& expected, const QString& address) {
    if (actual.kind != QLatin1String(expected.kind))
        return false;
    if (actual.kind == QLatin1String("ok"))
        return actual.text.isEmpty();
    const QLatin1String before(expected.before);
    const QString& text = actual.text;
    return text.size() == before.size() + address.size() + expected.after.size() &&
           text.startsWith(before) && text.endsWith(expected.after) &&
           QStringView(text).mid(before.size(), address.size()) == address;
}

QString randomAddress(QRandomGenerator& random) {
    // Mostly digits and dots, so that many strings come close to a valid address; the rest are
    // characters a validator might take for digits or placeholders.
    static const QString alphabet = QStringLiteral("0123456789012345678901234567890....... a%1-+"
                                                   "\u0663\u00b2\uff11\t");
    QString text;
    if (random.bounded(2) == 0) {
        const int length = random.bounded(19);
        for (int i = 0; i < length; ++i)
            text += alphabet[random.bounded(int(alphabet.size()))];
    } else {
        const int pieces = random.bounded(16) == 0 ? 3 + 2 * random.bounded(2) : 4;
        for (int piece = 0; piece < pieces; ++piece) {
            if (piece > 0)
                text += u'.';
            // Mostly one to three digits, sometimes none or four.
            const int length =
                random.bounded(16) == 0 ? 4 * random.bounded(2) : 1 + random.bounded(3);
            for (int i = 0; i < length; ++i)
                text += random.bounded(64) == 0 ? alphabet[random.bounded(int(alphabet.size()))]
                                                : QChar(u'0' + random.bounded(i == 0 ? 3 : 10));
        }
    }
    return text;
}

} // namespace

class TestIPAddrUtils : public QObject {
    Q_OBJECT

private slots:
    void validate_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");
        const QString pieces =
            "IPAddress must include 4 pieces of length 1..3. IPAddressString[%1]";
        const QString zero = "Leading zero not allowed. IPAddressString[%1]";
        const QString symbols = "IP Address contains illegal symbols. IPAddressString[%1]";
        const QString range = "Triplets must be of range 0..255  IPAddressString[%1]";
        const QString dots = "Must include exactly 3 dots! [%1]";
        auto row = [](const char* name, const QString& address, const char* kind,
                      const QString& pattern) {
            QTest::newRow(name) << address << kind
                                << (pattern.isEmpty() ? QString() : pattern.arg(address));
        };
        row("usual", "192.168.1.20", "ok", {});
        row("zeros", "0.0.0.0", "ok", {});
        row("largest, 15 characters", "255.255.255.255", "ok", {});
        row("zero piece", "1.2.3.0", "ok", {});
        row("five pieces", "1.2.3.4.5", "assertion", dots);
        row("three pieces", "1.2.3", "assertion", dots);
        row("empty", "", "assertion", dots);
        row("trailing dot", "1.2.3.", "error", pieces);
        row("empty piece", "1..2.3", "error", pieces);
        row("long piece 4", "1.2.3.1000", "error", pieces);
        row("leading zero 1", "01.2.3.4", "error", zero);
        row("leading zero 4", "1.2.3.00", "error", zero);
        row("range 1", "256.1.1.1", "error", range);
        row("range 4", "1.2.3.999", "error", range);
        row("letters", "a.b.c.d", "error", symbols);
        row("letter in piece 4", "1.2.3.a", "error", symbols);
        row("leading blank", " 1.2.3.4", "error", symbols);
        row("placeholder kept", "%1.%2.3.4", "error", symbols);
        row("symbol before range", "a.2.3.999", "error", symbols);
        row("range before symbol", "999.2.3.a", "error", range);
        row("length before symbol", "a.2.3.0004", "error", pieces);
        row("length before zero", "01.2.3.0004", "error", zero);
        QTest::newRow("16 characters") << "1234567890.1.1.1"
                                       << "assertion"
                                       << "Illegal length for IPString![1234567890.1.1.1(16)]";
    }

    void validate() {
        QFETCH(QString, address);
        QFETCH(QString, kind);
        QFETCH(QString, text);
        const QString before = address;
        QCOMPARE(::validate(address), (Verdict{kind, text}));
        QCOMPARE(address, before);
        // An assertion's message is the text of the check, the module and the line of the check.
        try {
            ValidateIPString(address);
        } catch (const AssertionFailure& failure) {
            QVERIFY(failure.line() > 0);
            QCOMPARE(failure.message(), QStringLiteral("%1 (UIPAddrUtils, line %2)")
                                            .arg(text, QString::number(failure.line())));
        } catch (const Exception&) {
        }
        // The octet routine validates first, with the same outcome.
        try {
            IPStringOctet(address, 1);
            QCOMPARE(kind, QStringLiteral("ok"));
        } catch (const Exception& error) {
            QVERIFY(error.message().startsWith(text));
        }
    }

    void octets() {
        const QString address = QStringLiteral("192.168.1.20");
        const int expected[] = {0, 192, 168, 1, 20, 0};
        for (quint8 n = 0; n <= 5; ++n)
            QCOMPARE(IPStringOctet(address, n), expected[n]);
        QCOMPARE(IPStringOctet(QStringLiteral("255.0.9.10"), 1), 255);
        QCOMPARE(IPStringOctet(QStringLiteral("255.0.9.10"), 4), 10);
    }

    void steps() {
        QCOMPARE(NormalizeIPString(QStringLiteral("192.168.1.20")), QStringLiteral("192168001020"));
        QCOMPARE(NormalizeIPString(QStringLiteral("a.b.c.d")), QStringLiteral("00a00b00c00d"));
        const QStringList pieces = {"1", "", "2", "3", "", ""};
        for (int n = 1; n <= 6; ++n)
            QCOMPARE(GetPiece(QStringLiteral("1..2.3"), n, u'.'), pieces[n - 1]);
        QCOMPARE(GetPiece(QStringLiteral("abc"), 1, u'.'), QStringLiteral("abc"));
        QCOMPARE(GetPiece(QStringLiteral(".a"), 1, u'.'), QString());
        QCOMPARE(GetPiece(QStringLiteral(".a"), 2, u'.'), QStringLiteral("a"));
        QCOMPARE(GetPiece(QStringLiteral("a:b"), 2, u':'), QStringLiteral("b"));
        QCOMPARE(CountChar(QStringLiteral(".1..2."), u'.'), 4);
        QVERIFY(IsAllDigits(QString()));
        QVERIFY(IsAllDigits(QStringLiteral("0189")));
        QVERIFY(!IsAllDigits(QStringLiteral("12a")));
        QVERIFY(!IsAllDigits(QStringLiteral("/")));
        QVERIFY(!IsAllDigits(QStringLiteral(":")));
        QVERIFY(!IsAllDigits(QStringLiteral("\u0663")));

        // The normalised form must be 12 characters; the message quotes the address.
        for (const QString& form :
             {QStringLiteral("12345678901"), QStringLiteral("1234567890123")}) {
            try {
                CheckNormalizedIPString(form, QStringLiteral("x"));
                QFAIL("accepted a normalised form of the wrong length");
            } catch (const AssertionFailure& failure) {
                QCOMPARE(failure.text(),
                         QStringLiteral("Illegal length for IPString![x (Length:%1) ]")
                             .arg(form.size()));
                QCOMPARE(failure.module(), "UIPAddrUtils");
            }
        }
        CheckNormalizedIPString(QStringLiteral("255000009010"), QStringLiteral("x"));
    }

    // A million random strings against the rules written out independently above: the same
    // verdict and message for each, and the same octets for each valid one.
    void fuzz() {
        QRandomGenerator random(20261207);
        QElapsedTimer clock;
        clock.start();
        int valid = 0;
        for (int i = 0; i < 1000000; ++i) {
            const QString address = randomAddress(random);
            const Expected expected = reference(address);
            const Verdict actual = ::validate(address);
            if (!agrees(actual, expected, address))
                QFAIL(qPrintable(QStringLiteral("\"%1\": got %2 \"%3\", expected %4 \"%5\"")
                                     .arg(address, actual.kind, actual.text,
                                          QLatin1String(expected.kind),
                                          QLatin1String(expected.before))));
            if (actual.kind == QLatin1String("ok")) {
                ++valid;
                const QStringList pieces = address.split(u'.');
                for (quint8 n = 1; n <= 4; ++n)
                    QCOMPARE(IPStringOctet(address, n), pieces[n - 1].toInt());
            }
        }
        // The generator must reach valid addresses and every kind of fault.
        QVERIFY(valid > 50000);
        qInfo("1000000 strings, %d valid, in %lld ms", valid, clock.elapsed());
    }
};

QTEST_GUILESS_MAIN(TestIPAddrUtils)
#include "test_ip_addr_utils.moc"
