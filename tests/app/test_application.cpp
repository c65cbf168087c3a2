#include "Codes.h"
#include "CommandLine.h"
#include "Exception.h"
#include "Icons.h"
#include "KavioApplication.h"
#include "Messages.h"
#include "StatusWords.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace kavio;

namespace {

// An object whose event handler fails the way a store operation can.
class Failing : public QObject {
public:
    int handled = 0;
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User) {
            ++handled;
            throw DatabaseError(QStringLiteral("Table Master.DB does not exist"));
        }
        return QObject::event(event);
    }
};

} // namespace

class TestApplication : public QObject {
    Q_OBJECT

private slots:
    // Every stored code has one word for people and one for scripts; a code outside 0..5 (a
    // hand-edited record) reads as unknown.
    void statusWords_data() {
        QTest::addColumn<qint64>("code");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("word");
        QTest::newRow("below") << qint64(-1) << "unknown"
                               << "UNKNOWN";
        QTest::newRow("0") << qint64(StatusOn) << "on"
                           << "ON";
        QTest::newRow("1") << qint64(StatusOff) << "off"
                           << "OFF";
        QTest::newRow("2") << qint64(StatusCycle) << "cycling"
                           << "CYCLE";
        QTest::newRow("3") << qint64(StatusUnknown) << "unknown"
                           << "UNKNOWN";
        QTest::newRow("4") << qint64(StatusError) << "unreachable"
                           << "UNREACHABLE";
        QTest::newRow("5") << qint64(StatusBusy) << "busy"
                           << "BUSY";
        QTest::newRow("above") << qint64(6) << "unknown"
                               << "UNKNOWN";
    }

    void statusWords() {
        QFETCH(qint64, code);
        QFETCH(QString, name);
        QFETCH(QString, word);
        QCOMPARE(statusName(code), name);
        QCOMPARE(statusWord(code), word);
    }

    // First, before any test replaces the sink: the program's own application object shows an
    // error report in a real box, which does not wait for the operator (start-up, polling and
    // timers go on beneath it) and never reads its text, which may hold names from the database,
    // as markup.
    void reportIsABoxThatDoesNotWaitForTheOperator() {
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

    void escapedExceptionIsReportedAndTheProgramCarriesOn() {
        RecordingMessageSink sink;
        Failing failing;
        QCoreApplication::postEvent(&failing, new QEvent(QEvent::User));
        QCoreApplication::postEvent(&failing, new QEvent(QEvent::User));
        bool carriedOn = false;
        QTimer::singleShot(0, this, [&] { carriedOn = true; });
        QTRY_VERIFY(carriedOn);

        QCOMPARE(failing.handled, 2);
        QCOMPARE(sink.shown.size(), 2);
        QCOMPARE(sink.shown[0].kind, MessageKind::Error);
        QCOMPARE(sink.shown[0].caption, QStringLiteral("KavioCC"));
        QCOMPARE(sink.shown[0].text, QStringLiteral("Table Master.DB does not exist."));
    }

    // Each status has its own picture; a code no unit can have shows as unknown.
    void everyStatusHasItsPicture() {
        const auto picture = [](int status) { return Icons::forStatus(status).toImage(); };
        const char* const names[] = {"1ON", "1OFF", "1CYCLE", "1Unknown", "1Error", "1BUSY"};
        for (int status = StatusOn; status <= StatusBusy; ++status) {
            QCOMPARE(picture(status), Icons::byName(QLatin1String(names[status])).toImage());
            for (int other = StatusOn; other < status; ++other)
                QVERIFY(picture(status) != picture(other));
        }
        for (int strange : {-1, StatusBusy + 1, 255})
            QCOMPARE(picture(strange), picture(StatusUnknown));
    }

    void commandLine_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("database"); // "new" and "default": see below
        QTest::addColumn<QString>("said");     // the start of what is printed
        using O = CommandLine::Outcome;
        QTest::newRow("none") << QStringList() << int(O::Start) << "default"
                              << "";
        QTest::newRow("existing") << QStringList({"--database", "@"}) << int(O::Start) << "@"
                                  << "";
        QTest::newRow("missing") << QStringList({"--database", "new"}) << int(O::Refused) << ""
                                 << "kaviocc: the database ";
        QTest::newRow("created") << QStringList({"--database", "new", "--create"}) << int(O::Start)
                                 << "new"
                                 << "";
        QTest::newRow("create alone") << QStringList({"--create"}) << int(O::Refused) << ""
                                      << "kaviocc: '--create' goes with '--database'";
        QTest::newRow("unknown") << QStringList({"--bogus"}) << int(O::Refused) << ""
                                 << "kaviocc: Unknown option 'bogus'";
        QTest::newRow("argument") << QStringList({"file.db"}) << int(O::Refused) << ""
                                  << "kaviocc: takes no argument 'file.db'";
        QTest::newRow("version") << QStringList({"--version", "--bogus2"}) << int(O::Refused) << ""
                                 << "kaviocc: Unknown option";
        QTest::newRow("version alone") << QStringList({"--version"}) << int(O::Done) << ""
                                       << "kaviocc 1.2\n";
        QTest::newRow("help") << QStringList({"-h"}) << int(O::Done) << ""
                              << "Usage: ";
    }

    // kaviocc reads --help, --version, --database and --create, and refuses anything else
    // rather than starting its window regardless.
    void commandLine() {
        QFETCH(QStringList, arguments);
        QFETCH(int, outcome);
        QFETCH(QString, database);
        QFETCH(QString, said);
        QTemporaryDir dir;
        const QString existing = dir.filePath(QStringLiteral("there.db"));
        QFile file(existing);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QString fresh = dir.filePath(QStringLiteral("sub/new.db"));
        arguments.replaceInStrings(QStringLiteral("@"), existing);
        arguments.replaceInStrings(QStringLiteral("new"), fresh);
        const QString defaultPath = dir.filePath(QStringLiteral("default.db"));
        const CommandLine line = ReadCommandLine(arguments, defaultPath, QStringLiteral("1.2"));
        QCOMPARE(int(line.outcome), outcome);
        const QString printed = line.output + line.message;
        QVERIFY2(said.isEmpty() ? printed.isEmpty() : printed.startsWith(said),
                 qPrintable(printed));
        if (outcome != int(CommandLine::Outcome::Start))
            return;
        const QString expected = database == QLatin1String("default") ? defaultPath
                                 : database == QLatin1String("new")   ? fresh
                                                                      : existing;
        QCOMPARE(line.database, expected);
    }

    // The windows carry the program's icon at every size the desktop installs.
    void windowIconHasEveryInstalledSize() {
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("KavioCC"));
        QList<QSize> sizes;
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
            sizes << QSize(size, size);
        QCOMPARE(QApplication::windowIcon().availableSizes(), sizes);
        QCOMPARE(QApplication::windowIcon().pixmap(QSize(256, 256)).size(), QSize(256, 256));
    }
};

// The test runs inside the program's own application object, not QTest's plain one.
int main(int argc, char** argv) {
    KavioApplication app(argc, argv);
    TestApplication test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_application.moc"
