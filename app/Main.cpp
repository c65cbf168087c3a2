#include "Main.h"

#include "Clock.h"
#include "Codes.h"
#include "CommandProcessor.h"
#include "ControlCharacters.h"
#include "Database.h"
#include "Exception.h"
#include "GlobalFunctions.h"
#include "ListKeys.h"
#include "ListLines.h"
#include "ListPanel.h"
#include "Messages.h"
#include "NameOrder.h"
#include "ParallelChoice.h"
#include "PollRule.h"
#include "SettingsFile.h"
#include "TextFit.h"
#include "TickGuard.h"
#include "UnitDirectory.h"
#include "UnitWriter.h"
#include "WindowPlacement.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>

namespace kavio {
namespace {

constexpr int ButtonWidth = 90;
constexpr int ButtonHeight = 31;
constexpr int NeverPosition = 2;
constexpr int LastPollPosition = 10;
constexpr int TabCaptionLength = 32;

// The list's lines of the records a read of the list hands over, in the order read.
template <typename Read, typename... Args> std::vector<TKavio> linesFrom(Read read, Args... args) {
    std::vector<TKavio> made;
    read(args..., [&made](lines::ListedRecord&& record) {
        TKavio line;
        line.Index = record.index;
        line.Name = std::move(record.name);
        line.Group = record.group;
        line.Checked = record.checked;
        made.push_back(std::move(line));
    });
    return made;
}

// Orders the lines as the list shows them (equal names by ascending key, as read).
void sortByName(std::vector<TKavio>& lines) {
    kavio::sortByName(lines, [](const TKavio& line) { return line.Name; });
}

// A tab shows a group's name in full as plain text: an ampersand is no access key, and only a
// name longer than a group name may be (a hand-edited record) is cut short.
QString tabCaption(const QString& name) {
    QString caption = blankControlCharacters(name);
    if (caption.size() > TabCaptionLength)
        caption = caption.left(TabCaptionLength - 1) + QChar(0x2026);
    return caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

} // namespace

TKavioCCMain::TKavioCCMain(QWidget* parent)
    : TKavioCCMain(Start::Serving, parent) {}

TKavioCCMain::TKavioCCMain(Start start, QWidget* parent)
    : QMainWindow(parent)
    , m_serving(start == Start::Serving) {
    setWindowTitle(QStringLiteral("Kavio Control Center"));
    buildMenus();
    buildControls();
    resize(415, 480);

    PollTiler = new QTimer(this);
    PollTiler->setInterval(PollTickMs);
    connect(PollTiler, &QTimer::timeout, this, &TKavioCCMain::PollTilerTimer);
    PollTiler->start();

    setCtrlKey(Qt::Key_1, [this] {
        if (m_commandProcessor) {
            m_commandProcessor->show();
            m_commandProcessor->raise();
        }
    });
    qApp->installEventFilter(this);

    FormCreate();
}

TKavioCCMain::~TKavioCCMain() {
    qApp->removeEventFilter(this);
}

void TKavioCCMain::buildMenus() {
    File1 = menuBar()->addMenu(QStringLiteral("&File"));
    View1 = menuBar()->addMenu(QStringLiteral("&View"));
    Poll1 = menuBar()->addMenu(QStringLiteral("&Poll"));
    Tools1 = menuBar()->addMenu(QStringLiteral("&Tools"));

    Now1 = Poll1->addAction(QStringLiteral("&Now"));
    connect(Now1, &QAction::triggered, this, &TKavioCCMain::Now1Click);
    Poll1->addSeparator();
    const auto interval = [this](QAction*& item, const QString& caption) {
        item = Poll1->addAction(caption);
        item->setCheckable(true);
        connect(item, &QAction::triggered, this, [this, item] { PollClick(item); });
    };
    interval(Never, QStringLiteral("Never"));
    interval(Every15, QStringLiteral("Every 15 Minutes"));
    interval(EveryHalf, QStringLiteral("Every 1/2 Hour"));
    interval(Every1, QStringLiteral("Every Hour"));
    interval(Every2, QStringLiteral("Every 2 Hours"));
    interval(Every4, QStringLiteral("Every 4 Hours"));
    interval(Every8, QStringLiteral("Every 8 Hours"));
    interval(Every12, QStringLiteral("Every 12 Hours"));
    interval(Every24, QStringLiteral("Once A Day"));
    Poll1->addSeparator();
    Parallel = new ParallelChoice(Poll1, this);
    connect(Parallel, &ParallelChoice::stored, this, &TKavioCCMain::settingsEdited);

    PopupMenu = new QMenu(this);
    addPopupEntry(PowerON1, QStringLiteral("Power ON"), TaskPowerOn);
    addPopupEntry(PowerOFF1, QStringLiteral("Power OFF"), TaskPowerOff);
    addPopupEntry(Reboot1, QStringLiteral("Reboot"), TaskReboot);
    addPopupEntry(Pulse1, QStringLiteral("Pulse"), TaskPulse);
    addPopupEntry(Cycle1, QStringLiteral("Cycle"), TaskCycle);
    addPopupEntry(Query1, QStringLiteral("Query"), TaskQuery);
}

void TKavioCCMain::addPopupEntry(QAction*& action, const QString& caption, quint8 task) {
    action = PopupMenu->addAction(caption);
    connect(action, &QAction::triggered, this, [this, task] { popupCommand(task); });
}

void TKavioCCMain::addCommandButton(QPushButton*& button, const QString& caption, quint8 task) {
    button = new QPushButton(caption);
    connect(button, &QPushButton::clicked, this, [this, task] { CommandChecked(task); });
}

void TKavioCCMain::buildControls() {
    auto* central = new QWidget(this);
    auto* columns = new QHBoxLayout(central);
    columns->setContentsMargins(4, 4, 4, 4);

    auto* listSide = new QVBoxLayout;
    listSide->setSpacing(0);
    KavioTabs = new QTabBar;
    KavioTabs->setExpanding(false);
    KavioTabs->setUsesScrollButtons(true);
    // Names in full; scroll buttons when the tabs do not fit.
    KavioTabs->setElideMode(Qt::ElideNone);
    KavioList = new KavioListView;
    ListPanel = new KavioListPanel(KavioList);
    ListPanel->fillViewMenu(View1);
    listSide->addWidget(KavioTabs);
    listSide->addWidget(ListPanel, 1);
    columns->addLayout(listSide, 1);

    auto* buttons = new QVBoxLayout;
    addCommandButton(OnBTN, QStringLiteral("Power ON"), TaskPowerOn);
    addCommandButton(OffBTN, QStringLiteral("Power OFF"), TaskPowerOff);
    addCommandButton(RebootBtn, QStringLiteral("Reboot"), TaskReboot);
    addCommandButton(PulseBTN, QStringLiteral("Pulse"), TaskPulse);
    addCommandButton(CycleBTN, QStringLiteral("Cycle"), TaskCycle);
    addCommandButton(QueryBTN, QStringLiteral("Query"), TaskQuery);
    for (QPushButton* button : {OnBTN, OffBTN, RebootBtn, PulseBTN, CycleBTN, QueryBTN})
        buttons->addWidget(button);
    buttons->addStretch(1);
    selAll = new QPushButton(QStringLiteral("Select All"));
    selNone = new QPushButton(QStringLiteral("Select None"));
    for (QPushButton* button : {selAll, selNone})
        buttons->addWidget(button);
    fitButtonsToText({OnBTN, OffBTN, RebootBtn, PulseBTN, CycleBTN, QueryBTN, selAll, selNone},
                     QSize(ButtonWidth, ButtonHeight));
    connect(selAll, &QPushButton::clicked, this, &TKavioCCMain::selAllClick);
    connect(selNone, &QPushButton::clicked, this, &TKavioCCMain::selNoneClick);
    columns->addLayout(buttons);
    setCentralWidget(central);

    connect(KavioTabs, &QTabBar::currentChanged, this, &TKavioCCMain::KavioTabsChange);
    connect(KavioList, &KavioListView::rightPressed, this, &TKavioCCMain::KavioListMouseDown);
    connect(KavioList->lines(), &KavioListModel::boxToggled, this,
            &TKavioCCMain::KavioListClickCheck);
}

void TKavioCCMain::FormCreate() {
    LoadPollSetting();
    // The program that serves the units reset them when it started.
    if (m_serving)
        ResetAllStatuses(MasterTable);
    MakeList();
    if (m_serving)
        m_polls.arm();
}

void TKavioCCMain::setServing(bool serving) {
    if (serving && !m_serving)
        m_polls.skipFirstPoll(Clock::now());
    m_serving = serving;
}

void TKavioCCMain::setCommandProcessor(TCmndProc* processor) {
    if (m_commandProcessor)
        disconnect(&m_commandProcessor->engine(), nullptr, this, nullptr);
    m_commandProcessor = processor;
    Parallel->setEngine(m_commandProcessor ? &m_commandProcessor->engine() : nullptr);
    if (m_commandProcessor)
        connect(&m_commandProcessor->engine(), &TCommandEngine::statusChanged, this,
                [this] { KavioList->refreshLines(); });
}

// ---- Device list --------------------------------------------------------------------------------

void TKavioCCMain::ClearList() {
    KavioList->lines()->clear();
}

void TKavioCCMain::RebuildList() {
    reloadList();
    emit recordsChanged();
}

void TKavioCCMain::reloadList() {
    ClearList();
    MakeList();
}

void TKavioCCMain::showTab(int tab) {
    const QSignalBlocker quiet(KavioTabs);
    KavioTabs->setCurrentIndex(tab);
}

void TKavioCCMain::MakeList() {
    const int remembered = KavioTabs->currentIndex();
    std::vector<TKavio> groups = linesFrom(lines::groupsByKey);

    {
        const QSignalBlocker quiet(KavioTabs);
        while (KavioTabs->count() > 0)
            KavioTabs->removeTab(KavioTabs->count() - 1);
        KavioTabs->addTab(QStringLiteral("All"));
        KavioTabs->setTabData(0, 0);
        for (const TKavio& group : groups)
            KavioTabs->setTabData(KavioTabs->addTab(tabCaption(group.Name)), group.Index);
    }

    if (remembered > 0 && remembered < KavioTabs->count()) {
        // Back to the tab the operator was looking at: its members replace the whole list.
        showTab(remembered);
        KavioTabsChange();
        return;
    }
    showTab(0);
    sortByName(groups);
    KavioList->lines()->append(std::move(groups));

    std::vector<TKavio> units = linesFrom(lines::unitsByKey);
    sortByName(units);
    KavioList->lines()->append(std::move(units));
}

void TKavioCCMain::MakeGroupList(quint16 groupIndex) {
    std::vector<TKavio> members = linesFrom(lines::membersByKey, groupIndex);
    sortByName(members);
    KavioList->lines()->append(std::move(members));
}

void TKavioCCMain::KavioTabsChange() {
    ClearList();
    const int tab = KavioTabs->currentIndex();
    if (tab <= 0)
        MakeList();
    else
        MakeGroupList(quint16(KavioTabs->tabData(tab).toUInt()));
}

void TKavioCCMain::SetCheckedByIndex(quint16 index, bool checked) {
    const int row = KavioList->lines()->rowOf(index);
    if (row >= 0)
        KavioList->lines()->setBox(row, checked);
}

int TKavioCCMain::CurrentRow() const {
    return KavioList->currentLine();
}

const TKavio* TKavioCCMain::CurrentEntry() const {
    const int row = CurrentRow();
    return row < 0 ? nullptr : &KavioList->lines()->record(row);
}

const TKavio* TKavioCCMain::FindListEntry(quint16 index) const {
    const int row = KavioList->lines()->rowOf(index);
    return row < 0 ? nullptr : &KavioList->lines()->record(row);
}

int TKavioCCMain::lineCount() const {
    return KavioList->lines()->count();
}

const TKavio& TKavioCCMain::line(int row) const {
    return KavioList->lines()->record(row);
}

bool TKavioCCMain::lineChecked(int row) const {
    return KavioList->lines()->box(row);
}

void TKavioCCMain::KavioListMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers,
                                      QPoint position) {
    if (button != Qt::RightButton)
        return;
    QAbstractItemView* view = KavioList->shownView();
    const QModelIndex under = view->indexAt(position);
    if (!under.isValid())
        return;
    view->setCurrentIndex(under);
    PopupMenu->popup(view->viewport()->mapToGlobal(position));
}

void TKavioCCMain::KavioListClickCheck(int row) {
    KavioListModel* lines = KavioList->lines();
    const bool checked = lines->box(row);
    const quint16 index = lines->entry(row).Index;
    std::vector<quint16> members;
    try {
        const std::optional<directory::RecordKind> record = directory::kindOf(index);
        if (record && record->group)
            members = directory::memberKeysInRowOrder(index);
        std::vector<quint16> written{index};
        written.insert(written.end(), members.begin(), members.end());
        writer::setTicks(written, checked);
    } catch (const Exception&) {
        lines->setBox(row, !checked); // nothing was stored: the box shows what the store holds
        throw;
    }
    for (quint16 member : members)
        SetCheckedByIndex(member, checked);
}

// ---- Command dispatch ---------------------------------------------------------------------------

void TKavioCCMain::queue(quint16 index, quint8 task, CommandSource source) {
    if (m_commandProcessor)
        m_commandProcessor->engine().AddToQueue(index, task, source);
}

void TKavioCCMain::CommandChecked(quint8 task) {
    if (!ConfirmTickedCommand(*this, task))
        return;
    m_skippedUnknown = 0;
    KavioListModel* lines = KavioList->lines();
    for (int row = 0; row < lines->count(); ++row) {
        if (!lines->box(row))
            continue;
        CurrentIndex = lines->entry(row).Index;
        CommandItem(task, CommandSource::Button);
    }
    ReportSkipped(*this, task, m_skippedUnknown);
}

void TKavioCCMain::popupCommand(quint8 task) {
    const TKavio* entry = CurrentEntry();
    if (!entry)
        return;
    CurrentIndex = entry->Index;
    m_skippedUnknown = 0;
    CommandItem(task, CommandSource::Popup);
    ReportSkipped(*this, task, m_skippedUnknown);
}

void TKavioCCMain::CommandItem(quint8 task, CommandSource source) {
    const std::optional<directory::RecordKind> record = directory::kindOf(CurrentIndex);
    if (!record || record->group)
        return;
    QueueTask(task, source);
}

void TKavioCCMain::QueueTask(quint8 task, CommandSource source) {
    const int row = KavioList->lines()->rowOf(CurrentIndex);
    if (row < 0)
        return;
    TKavio& entry = KavioList->lines()->record(row);
    const std::optional<directory::RecordKind> record = directory::kindOf(entry.Index);
    if (!record)
        return;
    entry.Status = record->status;
    if (CommandLetterOf(task) == 0)
        return;
    // Reboot and Pulse go by the last status; for one that is neither on nor off nothing goes.
    if (const std::optional<quint8> sent = taskToSend(task, entry.Status))
        queue(entry.Index, *sent, source);
    else
        ++m_skippedUnknown;
}

// Acts on the lines shown: with find text, only on the lines it leaves in view.
void TKavioCCMain::setAllChecks(bool on) {
    KavioListModel* lines = KavioList->lines();
    const ShownLines* shown = KavioList->shown();
    if (shown->rowCount() == 0)
        return;
    std::vector<quint16> indexes;
    indexes.reserve(size_t(shown->rowCount()));
    for (int row = 0; row < shown->rowCount(); ++row)
        indexes.push_back(lines->entry(shown->lineOf(row)).Index);
    writer::setTicks(indexes, on);
    if (shown->rowCount() == lines->count()) {
        lines->setAllBoxes(on);
        return;
    }
    for (int row = 0; row < shown->rowCount(); ++row)
        lines->setBox(shown->lineOf(row), on);
}

void TKavioCCMain::selAllClick() {
    setAllChecks(true);
}

void TKavioCCMain::selNoneClick() {
    setAllChecks(false);
}

// ---- Poll setting and polling -------------------------------------------------------------------

void TKavioCCMain::LoadPollSetting() {
    const QSettings settings = settingsFile();
    const int mode = poll::readMode(settings);
    // A value that is not a mode polls never, and the operator hears why.
    const QString key = QStringLiteral("Poll/Mode");
    if (settings.contains(key) && settings.value(key).toString().trimmed() != QString::number(mode))
        Messages::notify(MessageKind::Warning, QStringLiteral("Poll"),
                         QStringLiteral("%1 in %2 is \"%3\", not a number from %4 to %5: "
                                        "Never polls")
                             .arg(key, QDir::toNativeSeparators(settings.fileName()),
                                  settings.value(key).toString())
                             .arg(poll::NeverMode)
                             .arg(poll::LastMode),
                         this);
    ClearPollChecks();
    Poll1->actions().at(mode)->setChecked(true);
}

void TKavioCCMain::ClearPollChecks() {
    for (QAction* item : Poll1->actions())
        item->setChecked(false);
}

void TKavioCCMain::PollClick(QAction* sender) {
    const int position = int(Poll1->actions().indexOf(sender));
    if (position < NeverPosition || position > LastPollPosition)
        return;
    ClearPollChecks();
    sender->setChecked(true);
    QSettings settings = settingsFile();
    if (const QString problem = poll::writeMode(settings, position); !problem.isEmpty())
        throw Exception(problem);
    emit settingsEdited();
}

int TKavioCCMain::pollMode() const {
    const QList<QAction*> items = Poll1->actions();
    for (int position = NeverPosition; position <= LastPollPosition; ++position) {
        if (items.at(position)->isChecked())
            return position;
    }
    return NeverPosition;
}

void TKavioCCMain::Now1Click() {
    PollAll();
}

void TKavioCCMain::PollAll(CommandSource source) {
    for (const quint16 index : directory::unitKeys())
        queue(index, TaskQuery, source);
}

// The first tick polls once; after that each minute is checked once against the Poll menu.
void TKavioCCMain::PollTilerTimer() {
    if (!m_serving)
        return;
    if (const std::optional<CommandSource> source = m_polls.tick(Clock::now(), pollMode()))
        PollAll(*source);
}

// ---- Window -------------------------------------------------------------------------------------

void TKavioCCMain::setCtrlKey(int key, std::function<void()> action) {
    m_ctrlKeys.insert(key, std::move(action));
}

bool TKavioCCMain::FormKeyDown(int key, Qt::KeyboardModifiers modifiers) {
    if (!(modifiers & Qt::ControlModifier))
        return false;
    const auto action = m_ctrlKeys.constFind(key);
    if (action == m_ctrlKeys.constEnd())
        return false;
    (*action)();
    return true;
}

bool TKavioCCMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (FormKeyDown(keyWithoutShift(*key), key->modifiers()))
            return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

// The first showing puts the window where it was last closed, or centres it at its first-start
// size; either way inside the screen's available area.
void TKavioCCMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (m_centred)
        return;
    m_centred = true;
    WindowPlacement::restore(this, QStringLiteral("Main"), true);
}

void TKavioCCMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    FormResize();
}

void TKavioCCMain::FormResize() {
    KavioList->refreshLines();
}

void TKavioCCMain::closeEvent(QCloseEvent* event) {
    QMainWindow::closeEvent(event);
    if (event->isAccepted()) {
        WindowPlacement::save(this, QStringLiteral("Main"));
        emit closed();
    }
}

} // namespace kavio
