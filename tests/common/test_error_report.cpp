#include "Exception.h"
#include "Messages.h"

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QTimer>

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

    // The real report does not wait for the operator: start-up, polling and timers go on
    // beneath it. Its text, which may hold names from the database, is never read as markup.
    void reportDoesNotWaitForTheOperator() {
        QTimer rescue; // would close a box that waited, and the box below would be gone
        rescue.setSingleShot(true);
        connect(&rescue, &QTimer::timeout, [] {
            if (QWidget* modal = QApplication::activeModalWidget())
                modal->close();
        });
        rescue.start(3000);
        reportException(DatabaseError(QStringLiteral("Unit <b>Rack</b> A")));
        QMessageBox* shown = nullptr;
        const auto visibleBox = [&shown] {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
                    shown = box;
            return shown != nullptr;
        };
        QTRY_VERIFY_WITH_TIMEOUT(visibleBox(), 2000);
        QCOMPARE(shown->text(), QStringLiteral("Unit <b>Rack</b> A."));
        QCOMPARE(shown->textFormat(), Qt::PlainText);
        QCOMPARE(shown->icon(), QMessageBox::Critical);
        QPointer<QMessageBox> closing(shown);
        shown->close();
        QTRY_VERIFY(closing.isNull());
    }
};

QTEST_MAIN(TestErrorReport)
#include "test_error_report.moc"
