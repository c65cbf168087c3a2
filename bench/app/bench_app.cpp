// Figures of the main window over a full store: 200 groups and 65,335 units (65,535 records, every
// key in use), each unit a member of one group, names in mixed case and random order.
#include "BenchSupport.h"
#include "CommandProcessor.h"
#include "Database.h"
#include "GlobalFunctions.h"
#include "KavioApplication.h"
#include "ListPanel.h"
#include "Main.h"
#include "Program.h"
#include "ServingCore.h"
#include "ShownLines.h"

#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QSettings>
#include <QSqlQuery>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTimer>
#include <ctime>

using namespace kavio;
using namespace kavio::bench;

namespace {

constexpr int Groups = 200;
constexpr int Units = 65535 - Groups;

void fill() {
    QSqlDatabase db = Database::connection();
    db.transaction();
    QSqlQuery query(db);
    query.prepare(
        QStringLiteral(R"(INSERT INTO "Master" ("Name","IPAddress","Port","Password",)"
                       R"("Group","Timer","Status","Checked") VALUES (?,?,?,?,?,?,?,?))"));
    QRandomGenerator random(7);
    const auto name = [&random](const char* kind, int i) {
        QString text =
            QStringLiteral("%1 %2 %3").arg(QLatin1String(kind)).arg(random.bounded(100000)).arg(i);
        if (random.bounded(2))
            text = text.toUpper();
        return text;
    };
    for (int i = 1; i <= Groups; ++i) {
        for (const QVariant& value :
             {QVariant(name("Group", i)), QVariant(), QVariant(), QVariant(), QVariant(1),
              QVariant(i % 3 == 0), QVariant(3), QVariant(0)})
            query.addBindValue(value);
        query.exec();
    }
    for (int i = 1; i <= Units; ++i) {
        for (const QVariant& value :
             {QVariant(name("Unit", i)),
              QVariant(QStringLiteral("10.%1.%2.%3").arg(i >> 16).arg((i >> 8) & 255).arg(i & 255)),
              QVariant(4000 + i % 1000), QVariant(QStringLiteral("password")), QVariant(0),
              QVariant(i % 7 == 0), QVariant(i % 6), QVariant(i % 2)})
            query.addBindValue(value);
        query.exec();
    }
    QSqlQuery members(db);
    members.prepare(QStringLiteral(R"(INSERT INTO "Group" ("GroupIndex","Index") VALUES (?,?))"));
    for (int unit = Groups + 1; unit <= 65535; ++unit) {
        members.addBindValue(1 + unit % Groups);
        members.addBindValue(unit);
        members.exec();
    }
    db.commit();
}

qint64 residentKiB(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Processor time of this process, in ms: what the work costs whatever else the machine runs.
double cpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

void waitForPaint(const TKavioCCMain& window, int paints) {
    while (window.KavioList->paintCount() <= paints)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// The Details view counts no paints of its own: its first paint is waited for by an event
// filter on its viewport.
class PaintWatch : public QObject {
public:
    bool painted = false;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            painted = true;
        return false;
    }
};

} // namespace

// With --details the window starts in the Details view (the start-up figures are then that
// view's). The settings file is one of its own, in a temporary folder.
int main(int argc, char** argv) {
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
    KavioApplication app(argc, argv);
    const bool details = app.arguments().contains(QStringLiteral("--details"));
    QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("KavioCC"))
        .setValue(QStringLiteral("View/Details"), details);
    const QString path = dir.filePath(QStringLiteral("KavioCC.db"));
    Database::open(path);
    fill();
    Database::close();
    bool allMet = true;

    // Start-up: open the file, create the windows (status reset and list), show, first paint.
    QElapsedTimer timer;
    timer.start();
    double cpu = cpuMs();
    Database::open(path);
    ServingCore core;
    TKavioProgram program(core);
    program.start();
    TKavioCCMain& window = *program.KavioCCMain;
    if (details) {
        PaintWatch watch;
        window.ListPanel->Details->viewport()->installEventFilter(&watch);
        while (!watch.painted)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        window.ListPanel->Details->viewport()->removeEventFilter(&watch);
    } else {
        waitForPaint(window, 0);
    }
    allMet &= report(details ? "Start-up to the first painted Details view (s)"
                             : "Start-up to the first painted list (s)",
                     millisecondsOf(timer) / 1000, "s", 1.0);
    std::printf("  start-up, processor time: %.3f s\n", (cpuMs() - cpu) / 1000);
    window.ListPanel->setDetails(false); // the compact list's figures first
    window.PollTiler->stop();
    program.CmndProc->engine().Timer2->stop();
    std::printf("  lines in the All tab: %d, tabs: %d, names sorted for locale \"%s\"\n",
                window.lineCount(), window.KavioTabs->count(), qPrintable(QLocale().name()));

    std::vector<double> builds;
    std::vector<double> buildCpu;
    for (int run = 0; run < 7; ++run) {
        window.ClearList();
        timer.start();
        cpu = cpuMs();
        window.MakeList();
        builds.push_back(millisecondsOf(timer));
        buildCpu.push_back(cpuMs() - cpu);
    }
    allMet &= report("MakeList, 65,535 records, median (s)", median(builds) / 1000, "s", 0.2);
    std::printf("  MakeList, fastest of %zu: %.3f s; processor time, median: %.3f s\n",
                builds.size(), *std::min_element(builds.begin(), builds.end()) / 1000,
                median(buildCpu) / 1000);

    std::vector<double> tabSwitches;
    for (int tab = 1; tab <= 5; ++tab) {
        timer.start();
        window.KavioTabs->setCurrentIndex(tab * 37);
        tabSwitches.push_back(millisecondsOf(timer));
    }
    std::printf("  a group tab (%d members), median: %.3f ms\n", window.lineCount(),
                median(tabSwitches));
    window.KavioTabs->setCurrentIndex(0);
    QCoreApplication::processEvents();

    std::vector<double> repaints;
    for (int run = 0; run < 50; ++run) {
        timer.start();
        window.KavioList->viewport()->repaint();
        repaints.push_back(millisecondsOf(timer));
    }
    const int visible = window.KavioList->viewport()->height() / KavioListDelegate::LineHeight;
    std::printf("  visible lines: %d\n", visible);
    allMet &= report("Full repaint of the visible lines, median (ms)", median(repaints), "ms", 10);
    std::printf("  full repaint, worst of %zu: %.3f ms\n", repaints.size(), maximum(repaints));

    // A status change: the processor's notification, the list repainted from the store.
    std::vector<double> changes;
    TTable master(QStringLiteral("Master.DB"));
    const quint16 first = window.line(Groups).Index; // the first unit line shown
    for (int run = 0; run < 50; ++run) {
        SetStatus(master, first, quint8(run % 6));
        const int paints = window.KavioList->paintCount();
        timer.start();
        emit program.CmndProc->engine().statusChanged();
        waitForPaint(window, paints);
        changes.push_back(millisecondsOf(timer));
    }
    allMet &= report("Status change to its line repainted, median (ms)", median(changes), "ms", 2);

    std::vector<double> polls;
    for (int run = 0; run < 3; ++run) {
        auto core = std::make_unique<ServingCore>();
        auto processor = std::make_unique<TCmndProc>(core->engine(), core->history());
        processor->engine().Timer2->stop();
        window.setCommandProcessor(processor.get());
        timer.start();
        window.PollAll();
        polls.push_back(millisecondsOf(timer));
        window.setCommandProcessor(program.CmndProc.get());
    }
    std::printf("  PollAll, %d units, median: %.1f ms\n", Units, median(polls));

    // Find: each keystroke narrows the All tab and repaints it.
    KavioListPanel& panel = *window.ListPanel;
    timer.start();
    panel.showFind();
    std::printf("  Ctrl+F, the find field opened (reads every line's address and groups): "
                "%.1f ms\n",
                millisecondsOf(timer));
    std::vector<double> keystrokes;
    double firstKeystroke = 0;
    const QString typed = QStringLiteral("unit 4");
    for (int round = 0; round < 3; ++round) {
        for (const QChar key : typed) {
            timer.start();
            panel.FindEdit->insert(QString(key));
            window.KavioList->viewport()->repaint();
            if (round == 0 && keystrokes.empty() && firstKeystroke == 0)
                firstKeystroke = millisecondsOf(timer);
            else
                keystrokes.push_back(millisecondsOf(timer));
        }
        while (!panel.FindEdit->text().isEmpty()) {
            timer.start();
            panel.FindEdit->backspace();
            window.KavioList->viewport()->repaint();
            keystrokes.push_back(millisecondsOf(timer));
        }
    }
    panel.FindEdit->setText(QStringLiteral("10.0.1"));
    std::printf("  lines shown for \"10.0.1\": %d\n", window.KavioList->shown()->rowCount());
    allMet &= report("Find, first keystroke (ms)", firstKeystroke, "ms", 50);
    allMet &= report("Find, a keystroke, worst (ms)", maximum(keystrokes), "ms", 50);
    std::printf("  find, a keystroke, median: %.3f ms\n", median(keystrokes));
    panel.clearFind();

    // The Details view: switching to it, its first paint, rebuilds and sorting by a column.
    timer.start();
    panel.setDetails(true);
    QCoreApplication::processEvents();
    panel.Details->viewport()->repaint();
    std::printf("  Details view, switched to and painted: %.1f ms\n", millisecondsOf(timer));
    std::vector<double> detailBuilds;
    std::vector<double> detailBuildCpu;
    for (int run = 0; run < 7; ++run) {
        window.ClearList();
        timer.start();
        cpu = cpuMs();
        window.MakeList();
        detailBuilds.push_back(millisecondsOf(timer));
        detailBuildCpu.push_back(cpuMs() - cpu);
    }
    allMet &=
        report("MakeList in the Details view, median (s)", median(detailBuilds) / 1000, "s", 0.2);
    std::printf("  MakeList in the Details view, processor time, median: %.3f s\n",
                median(detailBuildCpu) / 1000);
    // A click on a header: the longest the window is held at a time (the click with its paint,
    // then each slice of columns read from the event loop) and the time until the lines are
    // sorted. The first click reads the columns; a rebuild in between makes each click read.
    std::vector<double> sortStalls;
    std::vector<double> sortedAfter;
    ShownLines* shownLines = window.KavioList->shown();
    for (bool rebuilt : {false, true}) {
        for (int column : {1, 2, 3, 4, 5, 0}) {
            if (rebuilt) {
                panel.Details->header()->setSortIndicator(0, Qt::AscendingOrder);
                window.ClearList();
                window.MakeList();
            }
            QElapsedTimer whole;
            whole.start();
            timer.start();
            panel.Details->header()->setSortIndicator(column, Qt::DescendingOrder);
            panel.Details->viewport()->repaint();
            double stall = millisecondsOf(timer);
            while (shownLines->sortPending()) {
                timer.start();
                QCoreApplication::processEvents();
                stall = std::max(stall, millisecondsOf(timer));
            }
            panel.Details->viewport()->repaint();
            sortStalls.push_back(stall);
            sortedAfter.push_back(double(whole.nsecsElapsed()) / 1e6);
        }
    }
    allMet &= report("Details, a click on a header: longest stall, worst (ms)", maximum(sortStalls),
                     "ms", 100);
    std::printf("  Details, a click on a header: sorted after, worst: %.1f ms\n",
                maximum(sortedAfter));
    std::vector<double> detailRepaints;
    for (int run = 0; run < 50; ++run) {
        timer.start();
        panel.Details->viewport()->repaint();
        detailRepaints.push_back(millisecondsOf(timer));
    }
    allMet &= report("Details, full repaint of the visible lines, median (ms)",
                     median(detailRepaints), "ms", 10);
    panel.setDetails(false);

    allMet &= report("Resident memory, peak (MB)", residentKiB("VmHWM:") / 1024.0, "MB", 150);
    return allMet ? 0 : 1;
}
