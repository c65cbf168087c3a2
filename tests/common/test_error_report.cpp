#include "Exception.h"
#include "Messages.h"

#include <QTest>

using namespace kavio;

class TestErrorReport : public QObject {
    Q_OBJECT

private slots:
    void fullStopOnlyAfterCharactersSortingAfterIt_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "Table not found"
                                << "Table not found.";
        QTest::newRow("digit") << "Error 42"
                               << "Error 42.";
        QTest::newRow("full stop") << "Done."
                                   << "Done.";
        QTest::newRow("exclamation") << "Stop!"
                                     << "Stop!";
        QTest::newRow("parenthesis") << "Failed (disk)"
                                     << "Failed (disk)";
        QTest::newRow("blank") << "Ends in a blank "
                               << "Ends in a blank ";
        QTest::newRow("slash sorts after the full stop") << "a/b/"
                                                         << "a/b/.";
        QTest::newRow("empty") << ""
                               << "";
    }

    void fullStopOnlyAfterCharactersSortingAfterIt() {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(reportText(message), shown);
    }

    void escapedErrorIsShownAsErrorBoxCaptionedWithTheTitle() {
        RecordingMessageSink sink;
        QCoreApplication::setApplicationName(QStringLiteral("KavioCC"));
        reportException(DatabaseError(QStringLiteral("Table Master.DB: cannot be read")));
        reportException(std::runtime_error("plain failure"));
        QCOMPARE(sink.shown.size(), 2);
        QCOMPARE(sink.shown[0].kind, MessageKind::Error);
        QCOMPARE(sink.shown[0].caption, QStringLiteral("KavioCC"));
        QCOMPARE(sink.shown[0].text, QStringLiteral("Table Master.DB: cannot be read."));
        QCOMPARE(sink.shown[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(sink.shown[1].text, QStringLiteral("plain failure."));
    }

    // A program that installs no sink loses no report: it is written to standard error.
    void reportWithoutSinkGoesToStandardError() {
        Notices::setSink(nullptr);
        QCoreApplication::setApplicationName(QStringLiteral("kaviod"));
        QTest::ignoreMessage(QtWarningMsg, "kaviod: Table Master.DB: cannot be read.");
        reportException(DatabaseError(QStringLiteral("Table Master.DB: cannot be read")));
    }
};

QTEST_MAIN(TestErrorReport)
#include "test_error_report.moc"
