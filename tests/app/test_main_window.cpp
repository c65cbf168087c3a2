#include "AboutBox.h"
#include "Clock.h"
#include "Codes.h"
#include "CommandProcessor.h"
#include "GlobalFunctions.h"
#include "Icons.h"
#include "KavioApplication.h"
#include "ListPanel.h"
#include "LogWithCore.h"
#include "LoopbackUnits.h"
#include "Main.h"
#include "Messages.h"
#include "ParallelChoice.h"
#include "Program.h"
#include "ServingCore.h"
#include "TempDatabase.h"
#include "UnitSim.h"
#include "WindowPlacement.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <memory>

using namespace kavio;
using test::TempDatabase;

namespace {

QStringList names(const TKavioCCMain& window) {
    QStringList found;
    for (int row = 0; row < window.lineCount(); ++row)
        found << window.line(row).Name;
    return found;
}

QStringList tabs(const TKavioCCMain& window) {
    QStringList found;
    for (int tab = 0; tab < window.KavioTabs->count(); ++tab)
        found << window.KavioTabs->tabText(tab);
    return found;
}

QList<TCommandEntry> queued(const TKavioCCMain& window) {
    return window.commandProcessor()->engine().queue();
}

bool stored(quint16 index, const char* field) {
    TTable master(QStringLiteral("Master.DB"));
    OpenByIndex(master, index);
    return master.fieldByName(QLatin1String(field)).asBoolean();
}

void addMember(quint16 group, quint16 unit) {
    QSqlQuery(Database::connection())
        .exec(QStringLiteral("INSERT INTO \"Group\" VALUES (%1, %2)").arg(group).arg(unit));
}

void setField(quint16 index, const char* field, int value) {
    QSqlQuery(Database::connection())
        .exec(QStringLiteral("UPDATE \"Master\" SET \"%1\" = %2 WHERE \"Index\" = %3")
                  .arg(QLatin1String(field))
                  .arg(value)
                  .arg(index));
}

QRect lineRect(const TKavioCCMain& window, int row) {
    return window.KavioList->visualRect(window.KavioList->model()->index(row, 0));
}

QStyleOptionViewItem lineOption(const TKavioCCMain& window, int row) {
    QStyleOptionViewItem option;
    option.initFrom(window.KavioList);
    option.rect = lineRect(window, row);
    option.widget = window.KavioList;
    return option;
}

QPoint boxCentre(const TKavioCCMain& window, int row) {
    return window.KavioList->delegate()
        ->checkRect(lineOption(window, row), window.KavioList->model()->index(row, 0))
        .center();
}

// The status whose picture the line shows, or -1.
int shownStatus(const TKavioCCMain& window, int row) {
    const QRect area = window.KavioList->delegate()->area(lineOption(window, row),
                                                          window.KavioList->model()->index(row, 0));
    const QImage shot = window.KavioList->viewport()->grab().toImage();
    for (int status = StatusOn; status <= StatusBusy; ++status) {
        if (shot.copy(area.left() + 1, area.top() + 1, 16, 16) ==
            Icons::forStatus(status).toImage().convertToFormat(shot.format()))
            return status;
    }
    return -1;
}

// The names of the lines the current view shows, in its order.
QStringList shownNames(const TKavioCCMain& window) {
    const ShownLines* shown = window.KavioList->shown();
    QStringList found;
    for (int row = 0; row < shown->rowCount(); ++row)
        found << window.line(shown->lineOf(row)).Name;
    return found;
}

// A small fleet for find and the Details view: two racks, a pump in the group Cellar, and a
// timer on rack 10.
struct Fleet {
    quint16 cellar = TempDatabase::addGroup(QStringLiteral("Cellar"));
    quint16 rack2 =
        TempDatabase::addUnit(QStringLiteral("Rack 2"), QStringLiteral("127.0.0.2"), 90);
    quint16 rack10 =
        TempDatabase::addUnit(QStringLiteral("rack 10"), QStringLiteral("127.0.0.10"), 80);
    quint16 pump = TempDatabase::addUnit(QStringLiteral("Pump"), QStringLiteral("127.0.1.5"), 85);
    Fleet() {
        addMember(cellar, pump);
        QSqlQuery(Database::connection())
            .exec(QStringLiteral("INSERT INTO \"Timer\" (\"Index\", \"Task\", \"Every\", "
                                 "\"TimeOfDay\", \"Date\") VALUES (%1, 0, 0, '08:00:00', "
                                 "'2026-01-01')")
                      .arg(rack10));
    }
};

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    QTemporaryDir settingsDir;
    std::unique_ptr<TempDatabase> db;
    std::unique_ptr<LogWithCore> processor;
    std::unique_ptr<TKavioCCMain> window;

    // A window over the current store, its processor held still so that the queue can be read.
    TKavioCCMain& open() {
        window.reset();
        window = std::make_unique<TKavioCCMain>();
        window->PollTiler->stop();
        window->setCommandProcessor(processor.get());
        return *window;
    }

    int lineOf(const QString& name) { return names(*window).indexOf(name); }

    // A fresh, empty queue for the next command.
    void emptyQueue() {
        auto fresh = std::make_unique<LogWithCore>();
        fresh->engine().Timer2->stop();
        window->setCommandProcessor(fresh.get());
        processor = std::move(fresh);
    }

    void writeMode(const QVariant& mode) {
        QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("KavioCC"));
        settings.setValue(QStringLiteral("Poll/Mode"), mode);
    }

private slots:
    void initTestCase() {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
    }

    void init() {
        QFile::remove(settingsDir.filePath(QStringLiteral("KavioCC.ini")));
        db = std::make_unique<TempDatabase>();
        processor = std::make_unique<LogWithCore>();
        processor->engine().Timer2->stop();
    }

    void cleanup() {
        window.reset();
        processor.reset();
        db.reset();
    }

    void frameMenusAndButtons() {
        TKavioCCMain& w = open();
        QCOMPARE(w.windowTitle(), QStringLiteral("Kavio Control Center"));
        // No display name: the window system shows each caption exactly as set.
        QCOMPARE(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
        QCOMPARE(w.size(), QSize(415, 480));
        QStringList menus;
        for (QAction* menu : w.menuBar()->actions())
            menus << menu->text();
        QCOMPARE(menus, QStringList({"&File", "&View", "&Poll", "&Tools"}));
        QStringList popup;
        for (QAction* entry : w.PopupMenu->actions())
            popup << entry->text();
        QCOMPARE(popup,
                 QStringList({"Power ON", "Power OFF", "Reboot", "Pulse", "Cycle", "Query"}));
        QCOMPARE(w.Poll1->actions().indexOf(w.Every12), 9);
        QCOMPARE(w.OnBTN->size(), QSize(90, 31));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const auto placed = [&w](QWidget* control) {
            return QRect(control->mapTo(&w, QPoint(0, 0)), control->size());
        };
        // Buttons at the right edge, the selection pair at the bottom, the list below the menus.
        QVERIFY(placed(w.OnBTN).right() > w.width() - 10);
        QVERIFY(placed(w.OnBTN).top() < placed(w.OffBTN).top());
        QVERIFY(placed(w.selNone).bottom() > w.height() - 10);
        QVERIFY(placed(w.KavioTabs).top() >= w.menuBar()->height());
        QVERIFY(placed(w.KavioList).right() < placed(w.OnBTN).left());
        QCOMPARE(w.selNone->text(), QStringLiteral("Select None"));

        QVERIFY(!processor->isVisible());
        QTest::keyClick(w.KavioList, Qt::Key_1, Qt::ControlModifier | Qt::AltModifier);
        QVERIFY(processor->isVisible());
        processor->hide();
        QTest::keyClick(w.KavioList, Qt::Key_1);
        QVERIFY(!processor->isVisible());
    }

    // The looks of the eight pictures: black corners, the face colour, the mark's colour.
    void iconLooks_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QPoint>("facePoint");
        QTest::addColumn<QColor>("face");
        QTest::addColumn<QColor>("mark"); // somewhere on the face; invalid: none
        const QColor yellow(255, 216, 26), grey(168, 168, 168), red(224, 32, 32), blue(24, 64, 224);
        QTest::newRow("on") << "1ON" << QPoint(2, 8) << yellow << QColor();
        QTest::newRow("off") << "1off" << QPoint(2, 8) << grey << QColor();
        QTest::newRow("cycle upper left") << "1CYCLE" << QPoint(3, 6) << yellow << QColor();
        QTest::newRow("cycle lower right") << "1Cycle" << QPoint(12, 12) << grey << QColor();
        QTest::newRow("unknown") << "1Unknown" << QPoint(2, 8) << grey << yellow;
        QTest::newRow("error") << "1Error" << QPoint(2, 8) << red << QColor();
        QTest::newRow("busy") << "1BUSY" << QPoint(2, 8) << grey << red;
        QTest::newRow("group") << "GroupICO" << QPoint(2, 8) << grey << blue;
        QTest::newRow("timer") << "Timer" << QPoint(4, 11) << grey << yellow;
    }

    void iconLooks() {
        QFETCH(QString, name);
        QFETCH(QPoint, facePoint);
        QFETCH(QColor, face);
        QFETCH(QColor, mark);
        const QImage icon = Icons::byName(name).toImage();
        QCOMPARE(icon.size(), QSize(16, 16));
        QVERIFY(!icon.hasAlphaChannel());
        for (QPoint corner : {QPoint(0, 0), QPoint(15, 0), QPoint(0, 15), QPoint(15, 15)})
            QCOMPARE(icon.pixelColor(corner), QColor(Qt::black));
        QCOMPARE(icon.pixelColor(facePoint), face);
        bool marked = false;
        for (int y = 3; y < 13; ++y)
            for (int x = 3; x < 13; ++x)
                marked |= icon.pixelColor(x, y) == mark;
        QCOMPARE(marked, mark.isValid());
        const bool outlet = !mark.isValid(); // the outlet faces have black slots
        QCOMPARE(icon.pixelColor(5, 4) == QColor(Qt::black), outlet);
        QCOMPARE(icon.pixelColor(10, 8) == QColor(Qt::black), outlet);
        QVERIFY(Icons::byName(QStringLiteral("2ON")).isNull());
        // On a scaled screen each picture has the screen's pixels, at the same logical size.
        const QPixmap sharp = Icons::byName(name, 2);
        QCOMPARE(sharp.size(), QSize(32, 32));
        QCOMPARE(sharp.deviceIndependentSize(), QSizeF(16, 16));
        const QColor sharpFace = sharp.toImage().pixelColor(facePoint * 2 + QPoint(1, 1));
        QVERIFY(qAbs(sharpFace.red() - face.red()) + qAbs(sharpFace.green() - face.green()) +
                    qAbs(sharpFace.blue() - face.blue()) <=
                12);
    }

    void orderOfLinesAndTabs() {
        const quint16 beta = TempDatabase::addGroup(QStringLiteral("Beta"));
        const quint16 alpha = TempDatabase::addGroup(QStringLiteral("alpha"));
        const quint16 zeta = TempDatabase::addUnit(QStringLiteral("Zeta"));
        const quint16 upper =
            TempDatabase::addUnit(QStringLiteral("rack"), QStringLiteral("127.0.0.7"), 4007);
        TempDatabase::addUnit(QStringLiteral("delta"));
        const quint16 lower = TempDatabase::addUnit(QStringLiteral("Rack"));
        TempDatabase::addGroup(QStringLiteral("R&D"));
        TempDatabase::addUnit(QStringLiteral("rack 10"));
        TempDatabase::addUnit(QStringLiteral("Rack 9"));
        addMember(beta, zeta);
        addMember(beta, lower);
        addMember(beta, upper);
        addMember(beta, lower); // a repeated membership row gives no second line
        QSqlQuery(Database::connection())
            .exec(QStringLiteral("INSERT INTO \"Master\" (\"Index\", \"Name\") VALUES "
                                 "(0, 'key zero'), (70000, 'key too large')"));

        TKavioCCMain& w = open();
        QCOMPARE(names(w), QStringList({"alpha", "Beta", "R&D", "delta", "rack", "Rack", "Rack 9",
                                        "rack 10", "Zeta"}));
        QCOMPARE(tabs(w), QStringList({"All", "Beta", "alpha", "R&&D"}));
        QCOMPARE(w.KavioTabs->tabData(2).toInt(), int(alpha));
        QVERIFY(w.line(0).Group && !w.line(4).Group);
        QCOMPARE(w.line(5).Index, lower);

        w.KavioTabs->setCurrentIndex(1);
        QCOMPARE(names(w), QStringList({"rack", "Rack", "Zeta"}));
        // The first row is another record now: its address is read afresh, not taken for known.
        QCOMPARE(w.line(0).IPAddress, QStringLiteral("127.0.0.7"));
        QCOMPARE(w.line(0).Port, 4007);
        w.RebuildList();
        QCOMPARE(w.KavioTabs->currentIndex(), 1);
        QCOMPARE(names(w), QStringList({"rack", "Rack", "Zeta"}));
        w.KavioTabs->setCurrentIndex(2); // a group without members
        QCOMPARE(w.lineCount(), 0);
        w.KavioTabs->setCurrentIndex(0);
        QCOMPARE(w.lineCount(), 9);
    }

    void rightClickSelectsAndOpensThePopup() {
        TempDatabase::addUnit(QStringLiteral("a"));
        const quint16 b =
            TempDatabase::addUnit(QStringLiteral("b"), QStringLiteral("10.0.0.2"), 4002);
        TKavioCCMain& w = open();
        setField(b, "Status", StatusBusy); // the record is read when the line is first acted on
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QSignalSpy opened(w.PopupMenu, &QMenu::aboutToShow);
        QWidget* lines = w.KavioList->viewport();

        QTest::mouseClick(lines, Qt::RightButton, {}, lineRect(w, 1).center());
        QCOMPARE(opened.count(), 1);
        QCOMPARE(w.CurrentEntry()->Name, QStringLiteral("b"));
        QCOMPARE(w.CurrentEntry()->IPAddress, QStringLiteral("10.0.0.2"));
        QCOMPARE(w.CurrentEntry()->Port, 4002);
        QCOMPARE(w.CurrentEntry()->Status, quint8(StatusBusy));
        QCOMPARE(w.FindListEntry(b), w.CurrentEntry());
        w.PopupMenu->hide();

        QTest::mouseClick(lines, Qt::RightButton, {}, lineRect(w, 1).bottomLeft() + QPoint(30, 20));
        QCOMPARE(opened.count(), 1);
        QCOMPARE(w.CurrentRow(), 1);
        QTest::mouseClick(lines, Qt::LeftButton, {}, lineRect(w, 0).center());
        QCOMPARE(opened.count(), 1);
        QCOMPARE(w.CurrentRow(), 0);
    }

    void togglingAGroupTicksAndStoresItsMembers() {
        const quint16 group = TempDatabase::addGroup(QStringLiteral("g"));
        const quint16 empty = TempDatabase::addGroup(QStringLiteral("empty"));
        const quint16 a = TempDatabase::addUnit(QStringLiteral("a"));
        const quint16 b = TempDatabase::addUnit(QStringLiteral("b"));
        const quint16 other = TempDatabase::addUnit(QStringLiteral("other"));
        addMember(group, a);
        addMember(group, b);
        TKavioCCMain& w = open();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));

        QTest::mouseClick(w.KavioList->viewport(), Qt::LeftButton, {}, boxCentre(w, lineOf("g")));
        for (quint16 index : {group, a, b}) {
            QVERIFY(stored(index, "Checked"));
            QVERIFY(w.lineChecked(w.KavioList->lines()->rowOf(index)));
        }
        QVERIFY(!stored(other, "Checked") && !w.lineChecked(lineOf("other")));
        const QModelIndex otherLine = w.KavioList->model()->index(lineOf("other"), 0);
        QVERIFY(!w.KavioList->model()->setData(otherLine, Qt::Checked, Qt::EditRole));
        QVERIFY(!w.lineChecked(lineOf("other")));

        // The space bar toggles the selected line; a unit's tick spreads nowhere.
        w.KavioList->setCurrentIndex(w.KavioList->model()->index(lineOf("a"), 0));
        QTest::keyClick(w.KavioList, Qt::Key_Space);
        QVERIFY(!stored(a, "Checked") && stored(group, "Checked") && stored(b, "Checked"));
        QTest::mouseClick(w.KavioList->viewport(), Qt::LeftButton, {}, boxCentre(w, lineOf("g")));
        for (quint16 index : {group, a, b})
            QVERIFY(!stored(index, "Checked") &&
                    !w.lineChecked(w.KavioList->lines()->rowOf(index)));

        // A tick the store refuses is undone and reported; the next one is stored again.
        QSqlQuery sql(Database::connection());
        QVERIFY(sql.exec(QStringLiteral("CREATE TRIGGER refuse BEFORE UPDATE ON \"Master\" "
                                        "BEGIN SELECT RAISE(ABORT, 'refused'); END")));
        RecordingMessageSink sink;
        QTest::mouseClick(w.KavioList->viewport(), Qt::LeftButton, {}, boxCentre(w, lineOf("g")));
        QCOMPARE(sink.shown.size(), 1);
        QVERIFY(sink.shown[0].text.contains(QStringLiteral("Master.DB")));
        QVERIFY(!w.lineChecked(lineOf("g")) && !w.lineChecked(lineOf("b")));
        QVERIFY(sql.exec(QStringLiteral("DROP TRIGGER refuse")));
        QTest::mouseClick(w.KavioList->viewport(), Qt::LeftButton, {},
                          boxCentre(w, lineOf("empty")));
        QCOMPARE(sink.shown.size(), 1);
        QVERIFY(stored(empty, "Checked"));
        QVERIFY(!stored(a, "Checked") && !stored(other, "Checked"));
    }

    void statusChangeRepaintsWithoutRebuild() {
        sim::SimulatedUnit unit(test::behaving(sim::Behaviour::On));
        QVERIFY(unit.listen());
        const quint16 index =
            TempDatabase::addUnit(QStringLiteral("unit"), QStringLiteral("127.0.0.1"), unit.port());
        TKavioCCMain& w = open();
        TTable master(QStringLiteral("Master.DB"));
        SetStatus(master, index, StatusError);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(shownStatus(w, 0), int(StatusError));

        QSignalSpy rebuilt(w.KavioList->model(), &QAbstractItemModel::modelReset);
        const int paints = w.KavioList->paintCount();
        w.KavioList->setCurrentIndex(w.KavioList->model()->index(0, 0));
        w.Query1->trigger();
        processor->engine().Timer2->start();
        QTRY_COMPARE(TempDatabase::status(index), qint64(StatusOn));
        QTRY_VERIFY(w.KavioList->paintCount() > paints + 1);
        QCOMPARE(shownStatus(w, 0), int(StatusOn));
        QCOMPARE(rebuilt.count(), 0);
        QCOMPARE(w.line(0).Status, quint8(StatusError)); // the snapshot of the dispatch
    }

    // The mark stays whole beside a name too long for the line: the name is cut short first.
    void timerMarkSitsAtTheRightEdge() {
        const quint16 unit = TempDatabase::addUnit(QStringLiteral("unit ") + QString(80, 'W'));
        TempDatabase::addUnit(QStringLiteral("without"));
        TKavioCCMain& w = open();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // Painting reads the timers: no rebuild needed.
        QSqlQuery(Database::connection())
            .exec(QStringLiteral("INSERT INTO \"Timer\" (\"Index\", \"Task\", \"Every\", "
                                 "\"TimeOfDay\", \"Date\") VALUES (%1, 1, 4, '09:30:00', "
                                 "'2030-01-01')")
                      .arg(unit));
        const QImage timer = Icons::timer().toImage();
        for (int width : {415, 600}) {
            w.resize(width, 480);
            QTRY_COMPARE(w.width(), width);
            const QImage shot =
                w.KavioList->viewport()->grab().toImage().convertToFormat(timer.format());
            const QRect line = lineRect(w, 0);
            QCOMPARE(shot.copy(line.left() + line.width() - 18, line.top() + 1, 16, 16), timer);
            const QRect other = lineRect(w, 1);
            QVERIFY(shot.copy(other.left() + other.width() - 18, other.top() + 1, 16, 16) != timer);
        }
    }

    void rebootAndPulseFollowTheLastStatus_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("reboot"); // queued task, or -1 for nothing
        QTest::addColumn<int>("pulse");
        QTest::newRow("on") << 0 << int(TaskCycle) << int(TaskPowerOff);
        QTest::newRow("off") << 1 << int(TaskPowerOn) << int(TaskCycle);
        for (int status : {2, 3, 4, 5})
            QTest::newRow(qPrintable(QString::number(status))) << status << -1 << -1;
    }

    void rebootAndPulseFollowTheLastStatus() {
        QFETCH(int, status);
        QFETCH(int, reboot);
        QFETCH(int, pulse);
        const quint16 unit = TempDatabase::addUnit(QStringLiteral("unit"));
        TKavioCCMain& w = open();
        setField(unit, "Status", status); // after the list was built: dispatch reads it anew
        w.KavioList->setCurrentIndex(w.KavioList->model()->index(0, 0));
        for (auto [item, wanted] : {std::pair{w.Reboot1, reboot}, std::pair{w.Pulse1, pulse}}) {
            item->trigger();
            QList<TCommandEntry> expected;
            if (wanted >= 0)
                expected << TCommandEntry{unit, quint8(wanted)};
            QCOMPARE(queued(w), expected);
            emptyQueue();
        }
        QCOMPARE(w.line(0).Status, quint8(status));
    }

    void buttonsReachTickedUnitsInListOrder() {
        const quint16 c = TempDatabase::addUnit(QStringLiteral("C"));
        const quint16 a = TempDatabase::addUnit(QStringLiteral("A"));
        TempDatabase::addUnit(QStringLiteral("not ticked"));
        const quint16 b = TempDatabase::addUnit(QStringLiteral("B"));
        const quint16 group = TempDatabase::addGroup(QStringLiteral("group"));
        for (quint16 index : {a, b, c, group})
            setField(index, "Checked", 1);
        TKavioCCMain& w = open();
        w.OnBTN->click();
        QCOMPARE(queued(w),
                 QList<TCommandEntry>({{a, TaskPowerOn}, {b, TaskPowerOn}, {c, TaskPowerOn}}));

        // The popup acts on the right-clicked line alone, whatever is ticked.
        emptyQueue();
        w.KavioList->setCurrentIndex(w.KavioList->model()->index(lineOf("not ticked"), 0));
        const quint16 lone = w.CurrentEntry()->Index;
        w.Query1->trigger();
        QCOMPARE(queued(w), QList<TCommandEntry>({{lone, TaskQuery}}));
        emptyQueue();
        w.KavioList->setCurrentIndex(w.KavioList->model()->index(lineOf("group"), 0));
        w.PowerOFF1->trigger();
        QVERIFY(queued(w).isEmpty());
    }

    void selectAllInAGroupTabStoresOnlyItsMembers() {
        const quint16 group = TempDatabase::addGroup(QStringLiteral("g"));
        const quint16 a = TempDatabase::addUnit(QStringLiteral("a"));
        const quint16 b = TempDatabase::addUnit(QStringLiteral("b"));
        const quint16 other = TempDatabase::addUnit(QStringLiteral("other"));
        addMember(group, a);
        addMember(group, b);
        TKavioCCMain& w = open();
        w.selNone->click(); // nothing ticked: nothing changes
        w.KavioTabs->setCurrentIndex(1);
        w.selAll->click();
        QVERIFY(w.lineChecked(0) && w.lineChecked(1));
        QVERIFY(stored(a, "Checked") && stored(b, "Checked"));
        QVERIFY(!stored(group, "Checked") && !stored(other, "Checked"));
        w.KavioTabs->setCurrentIndex(0);
        QVERIFY(w.lineChecked(lineOf("a")) && w.lineChecked(lineOf("b")));
        QVERIFY(!w.lineChecked(lineOf("g")) && !w.lineChecked(lineOf("other")));
        w.selNone->click();
        for (quint16 index : {group, a, b, other})
            QVERIFY(!stored(index, "Checked"));
        QVERIFY(!w.lineChecked(lineOf("a")));
    }

    void pollSettingRoundTrip_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<int>("ticked");
        QTest::addColumn<bool>("warned"); // a stored value that is no mode is reported
        QTest::newRow("missing") << QVariant() << 2 << false;
        QTest::newRow("every hour") << QVariant(5) << 5 << false;
        QTest::newRow("once a day") << QVariant(10) << 10 << false;
        QTest::newRow("too large") << QVariant(11) << 2 << true;
        QTest::newRow("far too large") << QVariant(99) << 2 << true;
        QTest::newRow("Now") << QVariant(0) << 2 << true;
        QTest::newRow("not a number") << QVariant(QStringLiteral("often")) << 2 << true;
    }

    void pollSettingRoundTrip() {
        QFETCH(QVariant, stored);
        QFETCH(int, ticked);
        QFETCH(bool, warned);
        RecordingMessageSink sink;
        if (stored.isValid())
            writeMode(stored);
        TKavioCCMain& w = open();
        QCOMPARE(sink.shown.size(), warned ? 1 : 0);
        if (warned) {
            QCOMPARE(sink.shown.first().kind, MessageKind::Warning);
            QVERIFY2(sink.shown.first().text.startsWith(
                         QStringLiteral("Poll/Mode in %1 is \"%2\"")
                             .arg(QDir::toNativeSeparators(QSettings(QSettings::IniFormat,
                                                                     QSettings::UserScope,
                                                                     QStringLiteral("KavioCC"))
                                                               .fileName()),
                                  stored.toString())),
                     qPrintable(sink.shown.first().text));
        }
        // Reads the window open at the time of the call: open() below replaces it.
        const auto ticks = [this] {
            QList<int> found;
            const QList<QAction*> items = window->Poll1->actions();
            for (int position = 0; position < items.size(); ++position)
                if (items.at(position)->isChecked())
                    found << position;
            return found;
        };
        QCOMPARE(ticks(), QList<int>({ticked}));
        w.Now1->trigger();
        QCOMPARE(ticks(), QList<int>({ticked}));

        w.Every1->trigger();
        QCOMPARE(ticks(), QList<int>({5}));
        w.Every1->trigger(); // choosing the ticked item again keeps it ticked
        QCOMPARE(ticks(), QList<int>({5}));
        w.Never->trigger();
        QCOMPARE(ticks(), QList<int>({2}));
        w.Every4->trigger();
        QSettings file(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("KavioCC"));
        QCOMPARE(file.value(QStringLiteral("Poll/Mode")).toInt(), 7);
        open();
        QCOMPARE(ticks(), QList<int>({7}));
        QCOMPARE(sink.shown.size(), warned ? 1 : 0);
    }

    // Poll > Parallel exchanges… reaches the engine and the settings file; a stored value that
    // makes no sense runs one exchange at a time and says why.
    void parallelExchangesAreAChoiceKeptInTheSettings() {
        RecordingMessageSink sink;
        const auto openWith = [this](const QVariant& stored) {
            QSettings settings(QSettings::IniFormat, QSettings::UserScope,
                               QStringLiteral("KavioCC"));
            settings.setValue(QStringLiteral("Queue/Parallel"), stored);
            settings.sync();
            return open().commandProcessor()->engine().parallel();
        };
        QCOMPARE(open().commandProcessor()->engine().parallel(), 1);
        QCOMPARE(openWith(8), 8);
        QVERIFY(sink.shown.isEmpty());
        QCOMPARE(openWith(QStringLiteral("many")), 1);
        QCOMPARE(openWith(0), 1);
        QCOMPARE(sink.shown.size(), 2);
        QVERIFY(sink.shown.last().text.contains(QStringLiteral("Queue/Parallel")));

        QVERIFY(window->Poll1->actions().contains(window->Parallel->action()));
        QVERIFY(window->Parallel->choose(12));
        QCOMPARE(processor->engine().parallel(), 12);
        QCOMPARE(open().commandProcessor()->engine().parallel(), 12);
    }

    void firstTickPollsOnceThenNeverWithNever() {
        const quint16 a = TempDatabase::addUnit(QStringLiteral("b"));
        const quint16 b = TempDatabase::addUnit(QStringLiteral("a"));
        TempDatabase::addGroup(QStringLiteral("group"));
        ManualClock clock(QDateTime(QDate(2026, 3, 2), QTime(23, 59, 59)));
        TKavioCCMain& w = open();
        QVERIFY(w.Never->isChecked());
        QVERIFY(queued(w).isEmpty());
        for (int tick = 0; tick < 3 * 3600; ++tick) {
            w.PollTilerTimer();
            clock.advance(1);
        }
        QCOMPARE(queued(w), QList<TCommandEntry>({{a, TaskQuery}, {b, TaskQuery}}));
    }

    void timedPollsStartAtTheirMinutes_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QTime>("start");
        QTest::addColumn<int>("step"); // seconds between ticks
        QTest::addColumn<int>("hours");
        QTest::addColumn<QStringList>("polls");
        QTest::newRow("15 minutes")
            << 3 << QTime(9, 50, 30) << 1 << 1
            << QStringList({"10:00:00", "10:15:00", "10:30:00", "10:45:00"});
        QTest::newRow("late ticks")
            << 3 << QTime(9, 50, 30) << 7 << 1
            << QStringList({"10:00:04", "10:15:00", "10:30:03", "10:45:06"});
        QTest::newRow("half hour")
            << 4 << QTime(9, 50, 30) << 1 << 1 << QStringList({"10:00:00", "10:30:00"});
        QTest::newRow("hour") << 5 << QTime(9, 50, 30) << 1 << 2
                              << QStringList({"10:00:00", "11:00:00"});
        QTest::newRow("2 hours") << 6 << QTime(9, 50, 30) << 1 << 5
                                 << QStringList({"10:00:00", "12:00:00", "14:00:00"});
        QTest::newRow("4 hours") << 7 << QTime(9, 50, 30) << 1 << 7
                                 << QStringList({"12:00:00", "16:00:00"});
        QTest::newRow("8 hours") << 8 << QTime(7, 50, 30) << 1 << 10
                                 << QStringList({"08:00:00", "16:00:00"});
        QTest::newRow("12 hours") << 9 << QTime(11, 50, 30) << 1 << 13
                                  << QStringList({"12:00:00", "00:00:00"});
        QTest::newRow("day") << 10 << QTime(11, 50, 30) << 1 << 13 << QStringList({"00:00:00"});
        // Started at second 0 of a matching minute: the first poll covers that minute.
        QTest::newRow("start on time")
            << 5 << QTime(10, 0, 0) << 1 << 1 << QStringList({"11:00:00"});
    }

    void timedPollsStartAtTheirMinutes() {
        QFETCH(int, mode);
        QFETCH(QTime, start);
        QFETCH(int, step);
        QFETCH(int, hours);
        QFETCH(QStringList, polls);
        TempDatabase::addUnit(QStringLiteral("unit"));
        writeMode(mode);
        ManualClock clock(QDateTime(QDate(2026, 3, 2), start));
        TKavioCCMain& w = open();
        w.PollTilerTimer(); // the first poll
        QCOMPARE(queued(w).size(), 1);
        QStringList started;
        for (int second = 0; second < hours * 3600; second += step) {
            clock.advance(step);
            const qsizetype before = queued(w).size();
            w.PollTilerTimer();
            w.PollTilerTimer(); // a second tick in the same second never polls again
            if (queued(w).size() != before)
                started << clock.time.time().toString(QStringLiteral("HH:mm:ss"));
        }
        QCOMPARE(started, polls);
    }

    void programEndsWhenTheMainWindowCloses() {
        sim::SimulatedUnit simulated(test::behaving(sim::Behaviour::Off));
        QVERIFY(simulated.listen());
        const quint16 unit = TempDatabase::addUnit(QStringLiteral("unit"),
                                                   QStringLiteral("127.0.0.1"), simulated.port());
        setField(unit, "Status", StatusOn);
        ServingCore core;
        TKavioProgram program(core);
        QCOMPARE(TempDatabase::status(unit), qint64(StatusUnknown));
        program.start();
        QVERIFY(program.KavioCCMain->isVisible() && !program.CmndProc->isVisible());
        // The first poll comes with the first tick, about a second after start.
        QTest::qWait(400);
        QCOMPARE(simulated.connectionCount(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(TempDatabase::status(unit), qint64(StatusOff), 3000);

        // Another start of the program asks for the window.
        program.KavioCCMain->hide();
        program.raise();
        QVERIFY(program.KavioCCMain->isVisible());
        program.KavioCCMain->showMinimized();
        QTest::keyClick(program.KavioCCMain->KavioList, Qt::Key_1, Qt::ControlModifier);
        QVERIFY(program.CmndProc->isVisible()); // another window still open
        program.CmndProc->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), program.CmndProc.get());
        program.raise();
        QVERIFY(!program.KavioCCMain->isMinimized());
        QTRY_COMPARE(QApplication::activeWindow(), program.KavioCCMain.get());
        QTimer::singleShot(0, program.KavioCCMain.get(), &QWidget::close);
        QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(2); });
        QCOMPARE(QCoreApplication::exec(), 0);
        program.CmndProc->hide();
    }

    // Every status, a group and a timer mark; the picture goes where KAVIO_SCREENSHOT names.
    // Ctrl+F opens the find field; typing narrows the current tab to the lines whose name,
    // address or group contains the text, letter case aside; Escape clears it.
    void findNarrowsTheTab_data() {
        QTest::addColumn<int>("tab");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("name, other case") << 0 << "RACK" << QStringList({"Rack 2", "rack 10"});
        QTest::newRow("address") << 0 << "127.0.1." << QStringList({"Pump"});
        QTest::newRow("group") << 0 << "cell" << QStringList({"Cellar", "Pump"});
        QTest::newRow("nothing") << 0 << "x" << QStringList();
        QTest::newRow("group tab") << 1 << "0.0" << QStringList();
        QTest::newRow("group tab, group") << 1 << "LAR" << QStringList({"Pump"});
    }

    void findNarrowsTheTab() {
        QFETCH(int, tab);
        QFETCH(QString, typed);
        QFETCH(QStringList, shown);
        const Fleet fleet;
        TKavioCCMain& w = open();
        w.show();
        QApplication::setActiveWindow(&w);
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.KavioTabs->setCurrentIndex(tab);
        const QStringList all = shownNames(w);
        QLineEdit* find = w.ListPanel->FindEdit;
        QVERIFY(!find->isVisible());
        QTest::keyClick(w.KavioList, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(find->isVisible() && find->hasFocus());
        QTest::keyClicks(find, typed);
        QCOMPARE(shownNames(w), shown);

        // Select All ticks and stores the lines shown, and only those.
        w.selAllClick();
        for (quint16 unit : {fleet.rack2, fleet.rack10, fleet.pump}) {
            const int line = w.KavioList->lines()->rowOf(unit);
            const bool ticked = line >= 0 && shown.contains(w.line(line).Name);
            QCOMPARE(stored(unit, "Checked"), ticked);
            QVERIFY(line < 0 || w.lineChecked(line) == ticked);
        }
        // A rebuild keeps the text in force.
        w.RebuildList();
        QCOMPARE(shownNames(w), shown);

        QTest::keyClick(find, Qt::Key_Escape);
        QVERIFY(find->text().isEmpty() && !find->isVisible());
        QCOMPARE(shownNames(w), all);
    }

    // View > Details: columns sorted by a click on their header, the choice kept for the next
    // start, the same lines, boxes and popup as the compact list, and the double-click hook.
    void detailsViewSortsAndIsRemembered() {
        const Fleet fleet;
        TKavioCCMain& first = open();
        setField(fleet.pump, "Status", StatusOff); // after start-up's reset of every status
        QVERIFY(!first.ListPanel->details());
        // The history holds an answer of rack 10, and a later one of Pump.
        const QDateTime answered(QDate(2026, 12, 1), QTime(10, 0));
        QSqlQuery history(Database::connection());
        history.prepare(QStringLiteral(
            R"(INSERT INTO "History" ("Time", "Index", "Name", "IPAddress", "Port", "Command",
 "Task", "Source", "Reply", "Status", "Outcome", "Duration")
 VALUES (?, ?, '', '', 0, 'q', 5, 'poll', 'ON', 0, 'answered', 1))"));
        for (const auto& [unit, at] :
             {std::pair{fleet.rack10, answered}, std::pair{fleet.pump, answered.addSecs(3600)}}) {
            history.addBindValue(at.toMSecsSinceEpoch());
            history.addBindValue(unit);
            QVERIFY2(history.exec(), qPrintable(history.lastError().text()));
        }
        const QModelIndex pumpLine = first.KavioList->shown()->index(1, 0);
        QCOMPARE(pumpLine.data(Qt::ToolTipRole).toString(),
                 QStringLiteral("off \u2014 127.0.1.5\nlast answer: 2026-12-01 11:00:00"));
        first.ListPanel->Details1->trigger();
        QVERIFY(first.ListPanel->details());

        TKavioCCMain& w = open(); // the choice is remembered
        setField(fleet.pump, "Status", StatusOff);
        setField(fleet.rack2, "Status", StatusError);
        QVERIFY(w.ListPanel->details());
        QVERIFY(w.ListPanel->Details1->isChecked());
        KavioDetailsView* details = w.ListPanel->Details;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(details->isVisible() && !w.KavioList->isVisible());
        QCOMPARE(shownNames(w), QStringList({"Cellar", "Pump", "Rack 2", "rack 10"}));

        const QAbstractItemModel* model = details->model();
        QStringList headers;
        for (int column = 0; column < model->columnCount(); ++column)
            headers << model->headerData(column, Qt::Horizontal).toString();
        QCOMPARE(headers, QStringList({"Name", "Status", "Address", "Port", "Groups", "Timers",
                                       "Last answer"}));
        const auto row = [&](int r) {
            QStringList cells;
            for (int column = 0; column < model->columnCount(); ++column)
                cells << model->index(r, column).data().toString();
            return cells;
        };
        // The status in the words of the status bar.
        QCOMPARE(row(1), QStringList({"Pump", "off", "127.0.1.5", "85", "Cellar", "",
                                      "2026-12-01 11:00:00"}));
        QCOMPARE(row(2)[1], QStringLiteral("unreachable"));
        QCOMPARE(row(3), QStringList({"rack 10", "unknown", "127.0.0.10", "80", "", "1",
                                      "2026-12-01 10:00:00"}));
        QCOMPARE(row(0)[1], QString());

        const auto clickHeader = [&](int column) {
            QHeaderView* header = details->header();
            QTest::mouseClick(
                header->viewport(), Qt::LeftButton, {},
                QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
        };
        clickHeader(ShownLines::AddressColumn);
        QCOMPARE(shownNames(w), QStringList({"Cellar", "Rack 2", "rack 10", "Pump"}));
        clickHeader(ShownLines::AddressColumn);
        QCOMPARE(shownNames(w), QStringList({"Pump", "rack 10", "Rack 2", "Cellar"}));
        clickHeader(ShownLines::PortColumn);
        QCOMPARE(shownNames(w), QStringList({"Cellar", "rack 10", "Pump", "Rack 2"}));
        clickHeader(ShownLines::StatusColumn);
        QCOMPARE(shownNames(w), QStringList({"Cellar", "Pump", "rack 10", "Rack 2"}));
        clickHeader(ShownLines::LastAnswerColumn);
        QCOMPARE(shownNames(w), QStringList({"Cellar", "Rack 2", "rack 10", "Pump"}));

        // The line under a right-click or a double-click is the sorted line's record.
        clickHeader(ShownLines::PortColumn); // Cellar, rack 10, Pump, Rack 2
        const QRect third = details->visualRect(model->index(2, 0));
        QSignalSpy opened(w.PopupMenu, &QMenu::aboutToShow);
        QTest::mouseClick(details->viewport(), Qt::RightButton, {}, third.center());
        QCOMPARE(opened.count(), 1);
        QCOMPARE(w.CurrentEntry()->Index, fleet.pump);
        w.PopupMenu->hide();
        QSignalSpy doubleClicked(w.KavioList, &KavioListView::unitDoubleClicked);
        QTest::mouseDClick(details->viewport(), Qt::LeftButton, {},
                           details->visualRect(model->index(1, 0)).center());
        QCOMPARE(doubleClicked.count(), 1);
        QCOMPARE(doubleClicked[0][0].value<quint16>(), fleet.rack10);

        // Typing looks for a name, whichever column's cell was clicked: from Pump on, "rack"
        // is Rack 2 (an address holds no letters).
        details->scrollTo(model->index(2, ShownLines::AddressColumn));
        QTest::mouseClick(details->viewport(), Qt::LeftButton, {},
                          details->visualRect(model->index(2, ShownLines::AddressColumn)).center());
        QCOMPARE(details->currentIndex(), model->index(2, ShownLines::AddressColumn));
        QTest::keyClicks(details, QStringLiteral("rack"));
        QCOMPARE(model->index(details->currentIndex().row(), 0).data().toString(),
                 QStringLiteral("Rack 2"));

        // A box ticked in the Details view is the line's box and is stored.
        model = details->model();
        QVERIFY(const_cast<QAbstractItemModel*>(model)->setData(model->index(3, 0), Qt::Checked,
                                                                Qt::CheckStateRole));
        QVERIFY(stored(fleet.rack2, "Checked"));
        QVERIFY(w.lineChecked(w.KavioList->lines()->rowOf(fleet.rack2)));

        w.ListPanel->Details1->trigger(); // back to the compact list, in its own order
        QVERIFY(!w.ListPanel->details() && w.KavioList->isVisible());
        QCOMPARE(shownNames(w), QStringList({"Cellar", "Pump", "Rack 2", "rack 10"}));
        QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("KavioCC"));
        QCOMPARE(settings.value(QStringLiteral("View/Details")).toBool(), false);
    }

    // A long list is sorted by a column without stalling the window: its columns are read a
    // slice at a time, the lines keep their order meanwhile, and a line painted (and so read on
    // its own) before its slice is read once.
    void detailsSortsALongListInSlices() {
        const quint16 lab = TempDatabase::addGroup(QStringLiteral("Lab"));
        QSqlDatabase store = Database::connection();
        QVERIFY(store.transaction());
        QSqlQuery insert(store);
        insert.prepare(QStringLiteral(R"(INSERT INTO "Master" ("Name", "IPAddress", "Port",
 "Password") VALUES (?, ?, ?, 'pw'))"));
        const int units = ShownLines::SlicedFrom + ShownLines::SliceKeys;
        for (int i = 0; i < units; ++i) {
            insert.addBindValue(QStringLiteral("unit %1").arg(i));
            insert.addBindValue(QStringLiteral("127.0.%1.%2").arg(i / 250).arg(i % 250 + 1));
            insert.addBindValue(60000 - i);
            QVERIFY(insert.exec());
        }
        QVERIFY(store.commit());
        const quint16 first = quint16(lab + 1); // "unit 0", on screen from the start
        addMember(lab, first);

        TKavioCCMain& w = open();
        w.ListPanel->setDetails(true);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        ShownLines* shown = w.KavioList->shown();
        const auto name = [shown](int row) { return shown->index(row, 0).data().toString(); };
        QCOMPARE(name(1), QStringLiteral("unit 0"));
        shown->sort(ShownLines::PortColumn, Qt::DescendingOrder);
        QVERIFY(shown->sortPending());
        QCOMPARE(name(1), QStringLiteral("unit 0"));
        w.ListPanel->Details->viewport()->repaint();
        QTRY_VERIFY_WITH_TIMEOUT(!shown->sortPending(), 20000);
        // The highest port first, the group last.
        QCOMPARE(name(0), QStringLiteral("unit 0"));
        QCOMPARE(name(units - 1), QStringLiteral("unit %1").arg(units - 1));
        QCOMPARE(name(units), QStringLiteral("Lab"));
        QCOMPARE(shown->index(0, ShownLines::GroupsColumn).data().toString(),
                 QStringLiteral("Lab"));
        shown->sort(ShownLines::PortColumn, Qt::AscendingOrder); // read already: at once
        QVERIFY(!shown->sortPending());
        QCOMPARE(name(0), QStringLiteral("Lab"));
        QCOMPARE(name(1), QStringLiteral("unit %1").arg(units - 1));
    }

    // With a large font no caption is wider than its button, the first-start sizes stay the
    // smallest, group tabs show names in full, and a window never lies outside the screen.
    void largeFontLayout() {
        const QFont normal = QApplication::font();
        QFont large = normal;
        large.setPointSizeF(normal.pointSizeF() * 2);
        QApplication::setFont(large);
        const QString longName = QStringLiteral("Rack A in the east wing, row 12");
        QCOMPARE(longName.size(), 31);
        TempDatabase::addGroup(longName + QLatin1Char('7'));
        TKavioCCMain& w = open();
        TAboutBox about;
        for (QWidget* window : {static_cast<QWidget*>(&w), static_cast<QWidget*>(&about)}) {
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window));
            for (const QPushButton* button : window->findChildren<QPushButton*>()) {
                const int text = button->fontMetrics().horizontalAdvance(button->text());
                QVERIFY2(text + 8 <= button->width(), qPrintable(button->text()));
                QVERIFY(button->width() >= 75 && button->height() >= 25);
            }
        }
        QVERIFY(w.OnBTN->width() > 90);
        QCOMPARE(w.KavioTabs->tabText(1), longName + QLatin1Char('7'));
        QVERIFY(w.KavioTabs->tabRect(1).width() >
                w.KavioTabs->fontMetrics().horizontalAdvance(w.KavioTabs->tabText(1)));
        QVERIFY(w.KavioTabs->usesScrollButtons());
        QApplication::setFont(normal);

        const QRect screen = w.screen()->availableGeometry();
        w.resize(screen.width() * 2, screen.height() * 2);
        w.move(screen.topLeft() - QPoint(300, 300));
        WindowPlacement::fitToScreen(&w);
        QVERIFY2(screen.contains(w.frameGeometry()), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                    .arg(w.frameGeometry().x())
                                                                    .arg(w.frameGeometry().y())
                                                                    .arg(w.width())
                                                                    .arg(w.height())));
        const QSize kept = w.size();
        w.close(); // remembers its place; the next open() deletes this window
        TKavioCCMain& again = open();
        again.show();
        QVERIFY(QTest::qWaitForWindowExposed(&again));
        QCOMPARE(again.size(), kept);
    }

    void screenshot() {
        const quint16 group = TempDatabase::addGroup(QStringLiteral("Rack 1"));
        TempDatabase::addGroup(QStringLiteral("Lab"));
        const char* const units[] = {"Web server",
                                     "Backup NAS",
                                     "Core switch",
                                     "Printer",
                                     "Camera <b>gate</b> with a very long name",
                                     "Old router"};
        for (int status = StatusOn; status <= StatusBusy; ++status) {
            const quint16 unit = TempDatabase::addUnit(QLatin1String(units[status]));
            addMember(group, unit);
            if (status == StatusOff)
                QSqlQuery(Database::connection())
                    .exec(QStringLiteral("INSERT INTO \"Timer\" (\"Index\", \"Task\", "
                                         "\"Every\", \"TimeOfDay\", \"Date\") VALUES (%1, 1, 4, "
                                         "'09:30:00', '2030-01-01')")
                              .arg(unit));
            if (status != StatusBusy)
                setField(unit, "Checked", 1);
        }
        TKavioCCMain& w = open();
        for (int status = StatusOn; status <= StatusBusy; ++status)
            setField(quint16(status + 3), "Status", status);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.KavioList->setCurrentIndex(w.KavioList->model()->index(lineOf("Printer"), 0));
        const QImage shot = w.grab().toImage();
        QCOMPARE(shot.size(), w.size());
        const QString path =
            qEnvironmentVariable("KAVIO_SCREENSHOT", QStringLiteral("mainwindow.png"));
        QVERIFY(shot.save(path));
    }
};

int main(int argc, char** argv) {
    KavioApplication app(argc, argv);
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_main_window.moc"
