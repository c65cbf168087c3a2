// The CSV reader and writer of kavioctl, and the unit rules the import applies, called directly.

#include "UnitCsv.h"
#include "UnitRules.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QTest>

using namespace kavio;
namespace csv = kavio::ctl::csv;

namespace {

class UnitCsvTest : public QObject {
    Q_OBJECT

private slots:
    void reads() {
        const csv::Document document = csv::read("\xEF\xBB\xBF"
                                                 "a,b\r\n"
                                                 "\r\n\n"
                                                 "\"x\r\ny\",\"say \"\"hi\"\"\",\"\"\n"
                                                 ",\n"
                                                 "last,\"line\"");
        QCOMPARE(document.faults.size(), 0);
        QCOMPARE(document.records.size(), 4);
        QCOMPARE(document.records[0].line, 1);
        QCOMPARE(document.records[0].fields, QStringList({"a", "b"}));
        QCOMPARE(document.records[1].line, 4);
        QCOMPARE(document.records[1].fields, QStringList({"x\r\ny", "say \"hi\"", ""}));
        QCOMPARE(document.records[2].line, 6);
        QCOMPARE(document.records[2].fields, QStringList({"", ""}));
        QCOMPARE(document.records[3].line, 7);
        QCOMPARE(document.records[3].fields, QStringList({"last", "line"}));
        // The mark only counts at the very start: a field that begins with one keeps it.
        QCOMPARE(csv::read("a\n\xEF\xBB\xBF"
                           "b,\xEF\xBB\xBF\xC3\xBC")
                     .records[1]
                     .fields,
                 QStringList({QChar(0xFEFF) + QStringLiteral("b"), QStringLiteral("\uFEFFü")}));
    }

    void faults_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("field");
        QTest::addColumn<int>("records");
        QTest::addColumn<QString>("message");
        QTest::newRow("open") << QByteArray("a\n\"b\n\nc,d\n") << 2 << 0 << 1 << "not closed";
        QTest::newRow("inside") << QByteArray("a\nb,c\"d\ne\n") << 2 << 1 << 1 << "inside a field";
        QTest::newRow("after") << QByteArray("\"a\nb\"c,d\ne\n") << 1 << 0 << 0
                               << "after the closing";
        QTest::newRow("lone CR") << QByteArray("a\n\"b\"\rc\n") << 2 << 0 << 1 << "carriage return";
        QTest::newRow("overlong") << QByteArray("a\nb,\xC0\x80\nc\n") << 2 << 1 << 2 << "not UTF-8";
        QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80\nc\n") << 1 << 0 << 1 << "not UTF-8";
        QTest::newRow("cut") << QByteArray("a\n\"x\n\xE2\x82\",y\nc\n") << 2 << 0 << 2
                             << "not UTF-8";
    }

    void faults() {
        QFETCH(QByteArray, text);
        QFETCH(int, line);
        QFETCH(int, field);
        QFETCH(int, records);
        QFETCH(QString, message);
        const csv::Document document = csv::read(text);
        QCOMPARE(document.faults.size(), 1);
        QCOMPARE(document.faults[0].line, line);
        QCOMPARE(document.faults[0].field, field);
        QVERIFY2(document.faults[0].message.contains(message),
                 qPrintable(document.faults[0].message));
        QCOMPARE(document.records.size(), records);
    }

    // A reader with limits keeps only the first fields of a record, but counts them all, and
    // reads nothing of a text beyond its byte limit.
    void limits() {
        for (const qint64 limit : {13, 12}) {
            QBuffer buffer;
            buffer.setData("a,b,c,d\nnext\n");
            QVERIFY(buffer.open(QIODevice::ReadOnly));
            csv::Reader reader(buffer, limit, 2);
            csv::Record record;
            QList<csv::Fault> faults;
            const bool within = limit == 13;
            QCOMPARE(reader.next(record, faults), within);
            QCOMPARE(reader.beyondLimit(), !within);
            if (within) {
                QCOMPARE(record.fields, QStringList({"a", "b"}));
                QCOMPARE(record.count, 4);
                QVERIFY(reader.next(record, faults));
                QCOMPARE(record.fields, QStringList({"next"}));
                QVERIFY(!reader.next(record, faults));
            }
            QVERIFY(faults.isEmpty());
        }
    }

    void writes() {
        QCOMPARE(
            csv::record({"plain", "", "ü ß", "a,b", "q\"q", "l\nf", "c\rr", " lead", "trail\t"}),
            QStringLiteral("plain,,ü ß,\"a,b\",\"q\"\"q\",\"l\nf\",\"c\rr\",\" lead\","
                           "\"trail\t\"\r\n"));
        // Whatever is written reads back the same, also where a field, a doubled quote or a line
        // end falls on the border of two pieces the reader takes from its device.
        QRandomGenerator random(7);
        const QString alphabet = QStringLiteral("a ,\"\r\n\tü;");
        QList<QStringList> rows;
        QString text;
        for (int row = 0; row < 400; ++row) {
            QStringList fields;
            for (int f = 0; f < 3; ++f) {
                QString value;
                for (int n = int(random.bounded(row % 50 == 0 ? 120000 : 6)); n > 0; --n)
                    value += alphabet[int(random.bounded(alphabet.size()))];
                fields << value;
            }
            rows << fields;
            text += csv::record(fields);
        }
        const csv::Document document = csv::read(text.toUtf8());
        QCOMPARE(document.faults.size(), 0);
        QCOMPARE(document.records.size(), rows.size());
        for (int row = 0; row < rows.size(); ++row)
            QCOMPARE(document.records[row].fields, rows[row]);
    }

    void unitRules() {
        using UnitRules::Field;
        int asked = 0;
        const UnitRules::NameTaken taken = [&](const QString& name) {
            ++asked;
            return name == QLatin1String("used");
        };
        const auto check = [&](const QString& name, const QString& address, const QString& port,
                               const QString& password, bool limits) {
            return UnitRules::checkUnit({name, UnitRules::addressFault(address), port, password},
                                        taken, limits);
        };
        const QString long33(33, QLatin1Char('n'));
        QCOMPARE(check("", "", "", "", true).message, QStringLiteral("You MUST enter a name"));
        QCOMPARE(check(long33, "", "", "", true).field, Field::Name);
        QCOMPARE(check(long33, "1.1.1.1", "80", "p", false).message, QString());
        QCOMPARE(check("a", "1.1.1", "", "", true).field, Field::Address);
        QCOMPARE(check("a", "1.1.1.1", "123456", "", true).message,
                 QStringLiteral("Port longer than 5 characters (it has 6)"));
        QCOMPARE(check("a", "1.1.1.1", "65535", "", true).field, Field::Password);
        QCOMPARE(check("a", "1.1.1.1", "65536", "", true).message,
                 QStringLiteral("Invalid Port Number"));
        QCOMPARE(check("a", "1.1.1.1", "1", "12345678901", true).field, Field::Password);
        QCOMPARE(check("a", "1.1.1.1", "1", "12345678901", false).message, QString());
        QCOMPARE(asked, 2);
        QCOMPARE(check("used", "1.1.1.1", "1", "1234567890", true).message,
                 QStringLiteral("Name already in use \"used\""));
        QCOMPARE(UnitRules::checkGroup("", 0, taken, true).message,
                 QStringLiteral("You MUST enter a Group Name"));
        QCOMPARE(UnitRules::checkGroup(long33, 1, taken, true).field, Field::Name);
        QCOMPARE(UnitRules::checkGroup("g", 0, taken, true).field, Field::Members);
        QCOMPARE(UnitRules::checkGroup("used", 1, taken, true).message,
                 QStringLiteral("Name already in use \"used\""));
        QCOMPARE(UnitRules::checkGroup("g", 1, taken, true).message, QString());
        // Exactly at the limit is still a name.
        QCOMPARE(UnitRules::checkGroup(QString(32, QLatin1Char('g')), 1, taken, true).message,
                 QString());
        QCOMPARE(UnitRules::addressFieldsFault({"1", "2", "", "4"}),
                 QStringLiteral("Invalid IP Address"));
        QCOMPARE(UnitRules::addressFieldsFault({"1", "2", "3", "4"}), QString());
        QCOMPARE(UnitRules::shortened(QStringLiteral("abcdef"), 6), QStringLiteral("abcdef"));
        QCOMPARE(UnitRules::shortened(QStringLiteral("abcdefg"), 6), QStringLiteral("abcdef..."));
    }
};

} // namespace

QTEST_GUILESS_MAIN(UnitCsvTest)
#include "test_unit_csv.moc"
