#pragma once

#include "CommandSource.h"
#include "Kavio.h"
#include "KavioList.h"
#include "ListWindow.h"
#include "PollRule.h"
#include "Table.h"

#include <QDateTime>
#include <QHash>
#include <QMainWindow>
#include <functional>

class QAction;
class QMenu;
class QPushButton;
class QTabBar;
class QTimer;

namespace kavio {

class TCmndProc;
class KavioListPanel;
class ParallelChoice;

// The main window: the device list with its group tabs, the power buttons, the Poll menu and the
// polling, and the keys held with Ctrl. The File and Tools menus and the rest of the list's popup
// menu are filled by the unit and timer actions, through the public members below.
class TKavioCCMain : public QMainWindow, public ListWindow {
    Q_OBJECT

public:
    static constexpr int PollTickMs = 1000;

    // Whether the window starts serving the units itself or following another program that
    // serves them (the service kaviod).
    enum class Start { Serving, Following };

    // Runs the start-up work (FormCreate): reads the poll setting, resets every unit's status to
    // unknown (only when serving) and builds the device list. Throws DatabaseError when the store
    // fails.
    explicit TKavioCCMain(QWidget* parent = nullptr);
    explicit TKavioCCMain(Start start, QWidget* parent = nullptr);

    // Serving, the window polls on the Poll menu's interval; following, the program it follows
    // polls. Taking over from that program neither resets the statuses nor polls at once: the
    // timed polls go on from the next minute.
    void setServing(bool serving);
    bool serving() const { return m_serving; }
    ~TKavioCCMain() override;

    // The command processor that receives every queued command; the list repaints on each of its
    // status-changed notifications. Until it is set nothing can be queued.
    void setCommandProcessor(TCmndProc* processor);
    TCmndProc* commandProcessor() const { return m_commandProcessor; }

    // ---- Device list
    void MakeList();
    void ClearList();
    void MakeGroupList(quint16 groupIndex);
    // ClearList then MakeList: after any change of records made here (recordsChanged tells of
    // it).
    void RebuildList() override;
    // The same after a change made by another program: nobody is told.
    void reloadList();
    void SetCheckedByIndex(quint16 index, bool checked);
    // The line that the right-click (or the operator) selected, or nullptr.
    const TKavio* CurrentEntry() const override;
    int CurrentRow() const;
    // The record of a line (list order), or nullptr past the end.
    const TKavio* FindListEntry(quint16 index) const;
    int lineCount() const;
    const TKavio& line(int row) const;
    bool lineChecked(int row) const;

    // ---- Handlers
    void KavioTabsChange();
    void KavioListMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint position);
    void KavioListClickCheck(int row);

    void LoadPollSetting();
    void ClearPollChecks();
    void PollClick(QAction* sender);
    void Now1Click();
    void PollAll(CommandSource source = CommandSource::Poll);
    void PollTilerTimer();
    // The Poll menu position (2..10) of the ticked interval item; 2 when none is ticked.
    int pollMode() const;

    void CommandChecked(quint8 task);
    void CommandItem(quint8 task, CommandSource source);
    void QueueTask(quint8 task, CommandSource source);
    void selAllClick();
    void selNoneClick();

    // The window's key handling: sees every key pressed in this window before the control that has
    // the focus. Ctrl held (whatever else is held) with a key registered here runs its action and
    // the key goes no further. Ctrl+1 shows the command log.
    bool FormKeyDown(int key, Qt::KeyboardModifiers modifiers);
    void setCtrlKey(int key, std::function<void()> action) override;
    QMenu* popupMenu() const override { return PopupMenu; }
    QMenu* toolsMenu() const override { return Tools1; }

    // ---- Controls and members
    QMenu* File1;
    QMenu* View1;
    QMenu* Poll1;
    QMenu* Tools1;
    QAction* Now1;
    QAction* Never;
    QAction* Every15;
    QAction* EveryHalf;
    QAction* Every1;
    QAction* Every2;
    QAction* Every4;
    QAction* Every8;
    QAction* Every12;
    QAction* Every24;
    // Poll > Parallel exchanges…
    ParallelChoice* Parallel = nullptr;

    QTabBar* KavioTabs;
    KavioListView* KavioList;
    // The find field and the choice of the compact list or the Details view, around KavioList.
    KavioListPanel* ListPanel;
    // The list's item menu: the six power entries; the unit and timer actions append theirs.
    // Connect to its aboutToShow signal to prepare it each time it opens.
    QMenu* PopupMenu;
    QAction* PowerON1;
    QAction* PowerOFF1;
    QAction* Reboot1;
    QAction* Pulse1;
    QAction* Cycle1;
    QAction* Query1;

    QPushButton* OnBTN;
    QPushButton* OffBTN;
    QPushButton* RebootBtn;
    QPushButton* PulseBTN;
    QPushButton* CycleBTN;
    QPushButton* QueryBTN;
    QPushButton* selAll;
    QPushButton* selNone;

    QTimer* PollTiler;
    TTable MasterTable{QStringLiteral("Master.DB")};
    quint16 CurrentIndex = 0;

signals:
    // The window was closed: the program ends.
    void closed();
    // Units or groups were changed here; the Poll menu or the exchanges at once were stored.
    void recordsChanged();
    void settingsEdited();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void FormResize();
    void buildMenus();
    void buildControls();
    void addCommandButton(QPushButton*& button, const QString& caption, quint8 task);
    void addPopupEntry(QAction*& action, const QString& caption, quint8 task);
    void popupCommand(quint8 task);
    void setAllChecks(bool on);
    void queue(quint16 index, quint8 task, CommandSource source);
    void showTab(int tab);

    // FirstPoll and the minute last checked for a timed poll.
    poll::Schedule m_polls;
    bool m_serving = true;
    TCmndProc* m_commandProcessor = nullptr;
    QHash<int, std::function<void()>> m_ctrlKeys;
    // Reboot and Pulse entries left out for want of a known status, in the current dispatch.
    int m_skippedUnknown = 0;
    bool m_centred = false;
};

} // namespace kavio
