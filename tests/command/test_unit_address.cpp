#include "UnitAddress.h"

#include <QTest>

using namespace kavio;

class TestUnitAddress : public QObject {
    Q_OBJECT

private slots:
    void dottedIPv4_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("loopback") << "127.0.0.1" << true;
        QTest::newRow("largest") << "255.255.255.255" << true;
        QTest::newRow("zeros") << "0.0.0.0" << true;
        QTest::newRow("two digits") << "10.99.250.199" << true;
        QTest::newRow("short form") << "127.1" << false;
        QTest::newRow("one number") << "2130706433" << false;
        QTest::newRow("leading zeros") << "127.000.000.001" << false;
        QTest::newRow("octal-looking") << "010.0.0.1" << false;
        QTest::newRow("hexadecimal") << "0x7f.0.0.1" << false;
        QTest::newRow("leading blank") << " 127.0.0.1" << false;
        QTest::newRow("trailing blank") << "127.0.0.1 " << false;
        QTest::newRow("256") << "192.168.1.256" << false;
        QTest::newRow("five parts") << "1.2.3.4.5" << false;
        QTest::newRow("trailing dot") << "1.2.3.4." << false;
        QTest::newRow("sign") << "+1.2.3.4" << false;
        QTest::newRow("host name") << "localhost" << false;
        QTest::newRow("IPv6") << "::1" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("line end") << "1.2.3.4\n" << false;
    }

    void dottedIPv4() {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        const auto address = DottedIPv4(text);
        QCOMPARE(address.has_value(), accepted);
        if (accepted)
            QCOMPARE(address->toString(), text);
    }
};

QTEST_GUILESS_MAIN(TestUnitAddress)
#include "test_unit_address.moc"
