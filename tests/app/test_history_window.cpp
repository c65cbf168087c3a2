#include "Codes.h"
#include "Database.h"
#include "HistoryModel.h"
#include "HistoryWindow.h"
#include "HistoryWriter.h"
#include "Main.h"
#include "TempDatabase.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QSqlQuery>
#include <QTableView>
#include <QTest>

using namespace kavio;
using test::TempDatabase;

// The History window on a known table: its filters, its pages and its export.
class TestHistoryWindow : public QObject {
    Q_OBJECT

    // Times of the rows the window shows, read through the model as the view would.
    static QStringList shownUnits(THistoryFrm& window) {
        QStringList units;
        HistoryModel* model = window.model();
        while (model->canFetchMore({}))
            model->fetchMore({});
        for (int i = 0; i < model->rowCount(); ++i)
            units << model->index(i, HistoryModel::Unit).data().toString() + "/" +
                         model->index(i, HistoryModel::Source).data().toString();
        return units;
    }

private slots:
    void filtersPagesAndExport() {
        TempDatabase db;
        const quint16 one = TempDatabase::addUnit(QStringLiteral("one"));
        const quint16 two = TempDatabase::addUnit(QStringLiteral("tw\no"));
        const quint16 members = TempDatabase::addGroup(QStringLiteral("members"));
        TempDatabase::addUnit(QStringLiteral("Rack 10"));
        TempDatabase::addUnit(QStringLiteral("rack 2"));
        TempDatabase::addGroup(QStringLiteral("Lab"));
        QVERIFY(QSqlQuery(Database::connection())
                    .exec(QStringLiteral(R"(INSERT INTO "Group" VALUES (%1, %2))")
                              .arg(members)
                              .arg(two)));
        const qint64 base = QDateTime(QDate(2026, 3, 1), QTime(12, 0)).toMSecsSinceEpoch();
        {
            HistoryWriter writer;
            const QStringList sources = {"poll", "button", "timer", "http"};
            // 2 * PageRows + 10 rows: one every minute, the units and sources taking turns.
            for (int i = 0; i < 2 * HistoryModel::PageRows + 10; ++i) {
                HistoryRow row;
                row.TimeMs = base + i * 60000;
                row.Index = i % 2 ? two : one;
                row.Name = i % 2 ? QStringLiteral("tw\no") : QStringLiteral("one");
                row.Command = QStringLiteral("q");
                row.Task = TaskQuery;
                row.Source = sources[i % 4];
                row.Outcome = i % 3 ? QStringLiteral("answered") : QStringLiteral("timed out");
                row.Reply = QStringLiteral("\"ON\", ok");
                writer.add(row);
            }
            QVERIFY(writer.flush());
        }

        // Ctrl+3 and Tools > History open the window.
        TKavioCCMain main;
        THistoryFrm window;
        AddHistoryEntry(main, window);
        QVERIFY(main.FormKeyDown(Qt::Key_3, Qt::ControlModifier));
        QVERIFY(window.isVisible());
        window.hide();
        const QList<QAction*> tools = main.Tools1->actions();
        QCOMPARE(tools.last()->text(), QStringLiteral("History"));
        tools.last()->trigger();
        QVERIFY(window.isVisible());
        QCOMPARE(window.model()->rowCount(), HistoryModel::PageRows);
        // The unit filter in the list's order of names, units first; the count follows the
        // pages as they are read.
        QStringList offered;
        for (int i = 0; i < window.UnitBox->count(); ++i)
            offered << window.UnitBox->itemText(i);
        QCOMPARE(offered, QStringList({"All units", "one", "rack 2", "Rack 10", "tw\\x0ao",
                                       "Group: Lab", "Group: members"}));
        QCOMPARE(window.StatusLabel->text(), QStringLiteral("Newest 200 rows; scroll for more"));
        window.model()->fetchMore({});
        QCOMPARE(window.StatusLabel->text(), QStringLiteral("Newest 400 rows; scroll for more"));
        window.model()->fetchMore({});
        QCOMPARE(window.StatusLabel->text(), QStringLiteral("410 rows"));
        QCOMPARE(window.model()->index(0, HistoryModel::Time).data().toString(),
                 QDateTime::fromMSecsSinceEpoch(base + (2 * HistoryModel::PageRows + 9) * 60000)
                     .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")));
        QCOMPARE(window.model()->index(0, HistoryModel::Command).data().toString(),
                 QStringLiteral("q Query"));
        QCOMPARE(shownUnits(window).size(), 2 * HistoryModel::PageRows + 10);

        // The group's member, under its name kept plain; then one source of it.
        window.UnitBox->setCurrentIndex(window.UnitBox->findData(-int(members)));
        QStringList units = shownUnits(window);
        QCOMPARE(units.size(), HistoryModel::PageRows + 5);
        QCOMPARE(units.first(), QStringLiteral("tw\\x0ao/button")); // row 409
        window.SourceBox->setCurrentIndex(window.SourceBox->findData(QStringLiteral("button")));
        QCOMPARE(shownUnits(window).size(), 103); // rows 1, 5, ..., 409
        QCOMPARE(shownUnits(window).count(QStringLiteral("tw\\x0ao/button")),
                 shownUnits(window).size());

        // One unit, a date range and an outcome: rows 0..9 of unit one are 0, 2, ..., 8.
        window.showUnit(one);
        QCOMPARE(window.SourceBox->currentIndex(), 0);
        QCOMPARE(shownUnits(window).size(), HistoryModel::PageRows + 5);
        window.FromCheck->setChecked(true);
        window.FromEdit->setDateTime(QDateTime::fromMSecsSinceEpoch(base));
        window.ToCheck->setChecked(true);
        window.ToEdit->setDateTime(QDateTime::fromMSecsSinceEpoch(base + 10 * 60000));
        QCOMPARE(shownUnits(window),
                 QStringList({"one/poll", "one/timer", "one/poll", "one/timer", "one/poll"}));
        window.OutcomeBox->setCurrentIndex(
            window.OutcomeBox->findData(QStringLiteral("timed out")));
        QCOMPARE(shownUnits(window), QStringList({"one/timer", "one/poll"})); // rows 6 and 0

        // The export holds the filtered rows, and Python's csv module reads them back.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("history.csv"));
        QVERIFY(window.exportCsv(path));
        QProcess python;
        python.start(QStringLiteral("python3"),
                     {QStringLiteral("-c"),
                      QStringLiteral("import csv,json,sys\nprint(json.dumps(list(csv.DictReader("
                                     "open(sys.argv[1], newline='')))))"),
                      path});
        QVERIFY(python.waitForFinished(30000) && python.exitCode() == 0);
        const QJsonArray rows = QJsonDocument::fromJson(python.readAllStandardOutput()).array();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0][QStringLiteral("unit")].toString(), QStringLiteral("one"));
        QCOMPARE(rows[0][QStringLiteral("source")].toString(), QStringLiteral("timer"));
        QCOMPARE(rows[0][QStringLiteral("reply")].toString(), QStringLiteral("\"ON\", ok"));
        QCOMPARE(rows[1][QStringLiteral("outcome")].toString(), QStringLiteral("timed out"));
        QCOMPARE(rows[1][QStringLiteral("time")].toString(),
                 QDateTime::fromMSecsSinceEpoch(base, Qt::UTC).toString(Qt::ISODateWithMs));
        QString error;
        QVERIFY(!window.exportCsv(dir.filePath(QStringLiteral("no/such/h.csv")), &error));
        QVERIFY2(error.contains(QStringLiteral("cannot be exported")), qPrintable(error));
    }
};

QTEST_MAIN(TestHistoryWindow)
#include "test_history_window.moc"
