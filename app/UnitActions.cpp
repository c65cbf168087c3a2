#include "UnitActions.h"

#include "AboutBox.h"
#include "ControlCharacters.h"
#include "Exception.h"
#include "GroupProperties.h"
#include "Icons.h"
#include "ItemProperties.h"
#include "KavioList.h"
#include "Launcher.h"
#include "ListKeys.h"
#include "ListPanel.h"
#include "Main.h"
#include "Messages.h"
#include "UIPAddrUtils.h"
#include "UndoStore.h"
#include "UnitWriter.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QMenuBar>
#include <QStandardPaths>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTabBar>

namespace kavio {

TUnitActions::TUnitActions(TKavioCCMain& main, TItemPropFRM& itemDialog, TGroupPropFRM& groupDialog,
                           TAboutBox& aboutBox)
    : QObject(&main)
    , Main(main)
    , ItemPropFRM(itemDialog)
    , GroupPropFRM(groupDialog)
    , AboutBox(aboutBox)
    , Undo(new UndoStore(this)) {
    buildMenus();
    connect(Undo, &UndoStore::changed, this, &TUnitActions::updateUndo);
    updateUndo();
    // Menu key, Shift+F10, Enter, Del and the type-ahead's space on the lines of either view.
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(Main.KavioList),
                                    static_cast<QAbstractItemView*>(Main.ListPanel->Details)})
        new ListKeys(
            *view, *Main.PopupMenu, [this] { Properties1Click(); }, [this] { Delete1Click(); });
    Main.setCtrlKey(Qt::Key_A, [this] {
        AboutBox.show();
        AboutBox.raise();
        AboutBox.activateWindow();
    });
    Main.setCtrlKey(Qt::Key_E, [this] { EmptyDatabase(); });
}

void TUnitActions::buildMenus() {
    QMenu* newMenu = Main.File1->addMenu(QStringLiteral("&New"));
    Kavio1 = newMenu->addAction(QStringLiteral("&Kavio "));
    Kavio1->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_N));
    connect(Kavio1, &QAction::triggered, this, &TUnitActions::Kavio1Click);
    Group1 = newMenu->addAction(QStringLiteral("&Group"));
    Group1->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_G));
    connect(Group1, &QAction::triggered, this, &TUnitActions::Group1Click);
    Main.File1->addSeparator();
    MinimizeToTray1 = Main.File1->addAction(QStringLiteral("Minimize to Tray"));
    connect(MinimizeToTray1, &QAction::triggered, this, &TUnitActions::MinimizeToTray1Click);
    Close1 = Main.File1->addAction(QStringLiteral("&Close"));
    Close1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(Close1, &QAction::triggered, &Main, &QWidget::close);

    Edit1 = new QMenu(QStringLiteral("&Edit"), &Main);
    Main.menuBar()->insertMenu(Main.View1->menuAction(), Edit1);
    Undo1 = Edit1->addAction(QStringLiteral("&Undo"));
    Undo1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    connect(Undo1, &QAction::triggered, this, &TUnitActions::Undo1Click);

    ResetUtility1 = Main.Tools1->addAction(QStringLiteral("Reset Utility"));
    connect(ResetUtility1, &QAction::triggered, this, &TUnitActions::ResetUtility1Click);

    QMenu* popup = Main.PopupMenu;
    TimerSeparator = popup->addSeparator();
    popup->addSeparator();
    OpenInBrowser1 = popup->addAction(QStringLiteral("Open In Browser"));
    connect(OpenInBrowser1, &QAction::triggered, this, &TUnitActions::OpenInBrowser1Click);
    Ping1 = popup->addAction(QStringLiteral("Ping"));
    connect(Ping1, &QAction::triggered, this, &TUnitActions::Ping1Click);
    popup->addSeparator();
    Delete1 = popup->addAction(QStringLiteral("Delete"));
    connect(Delete1, &QAction::triggered, this, &TUnitActions::Delete1Click);
    Properties1 = popup->addAction(QStringLiteral("Properties"));
    connect(Properties1, &QAction::triggered, this, &TUnitActions::Properties1Click);
    connect(popup, &QMenu::aboutToShow, this, &TUnitActions::PopupMenuPopup);
}

void TUnitActions::Kavio1Click() {
    ItemPropFRM.ClearFields();
    ItemPropFRM.IsNew = true;
    if (ItemPropFRM.exec() == QDialog::Accepted)
        Main.RebuildList();
}

void TUnitActions::Group1Click() {
    GroupPropFRM.IsNew = true;
    GroupPropFRM.exec();
    Main.RebuildList();
}

void TUnitActions::PopupMenuPopup() {
    const TKavio* entry = Main.CurrentEntry();
    const bool unit = entry && !entry->Group;
    OpenInBrowser1->setEnabled(unit);
    Ping1->setEnabled(unit);
}

void TUnitActions::Properties1Click() {
    const TKavio* entry = Main.CurrentEntry();
    if (!entry)
        return;
    int result = QDialog::Rejected;
    if (entry->Group) {
        GroupPropFRM.LoadGroup(entry->Index);
        result = GroupPropFRM.exec();
    } else {
        if (!ItemPropFRM.LoadItem(entry->Index))
            return;
        ItemPropFRM.IsNew = false;
        result = ItemPropFRM.exec();
    }
    if (result == QDialog::Accepted)
        Main.RebuildList();
}

QString TUnitActions::checkedAddress() {
    const TKavio* entry = Main.CurrentEntry();
    if (!entry || entry->Group)
        return {};
    try {
        ValidateIPString(entry->IPAddress);
    } catch (const Exception&) {
        tell(QStringLiteral("The address of \"%1\" is not valid: %2")
                 .arg(entry->Name, entry->IPAddress));
        return {};
    }
    return entry->IPAddress;
}

void TUnitActions::OpenInBrowser1Click() {
    const QString address = checkedAddress();
    if (address.isEmpty())
        return;
    if (!Launcher::openUrl(QUrl(QStringLiteral("http://") + address)))
        tell(QStringLiteral("No web browser could be started for http://%1").arg(address));
}

void TUnitActions::Ping1Click() {
    const QString address = checkedAddress();
    if (address.isEmpty())
        return;
    if (!Launcher::installed(QStringLiteral("ping"))) {
        tell(QStringLiteral("ping is not installed"));
        return;
    }
    const QStringList arguments{QStringLiteral("-e"), QStringLiteral("ping"), address};
    if (!Launcher::startDetached(QStringLiteral("x-terminal-emulator"), arguments) &&
        !Launcher::startDetached(QStringLiteral("xterm"), arguments))
        tell(QStringLiteral("No terminal to run ping in: x-terminal-emulator and xterm are "
                            "not installed"));
}

void TUnitActions::Delete1Click() {
    const TKavio* entry = Main.CurrentEntry();
    if (!entry)
        return;
    const quint16 index = entry->Index;
    const QString name = entry->Name; // the line goes with the rebuild
    RemovedRows removed = UndoStore::recordRows(index);
    if (removed.master.isEmpty()) {
        // Gone already (another program, or a second click): only the list is stale.
        Main.RebuildList();
        tell(QStringLiteral("\"%1\" was deleted already").arg(name));
        return;
    }
    QString question = QStringLiteral("Delete %1?").arg(removed.description);
    if (removed.master.first().value(5).toLongLong() != 0)
        question += QStringLiteral("\nIts member units stay.");
    const auto answer =
        Messages::show(MessageKind::Confirmation, QCoreApplication::applicationName(), question,
                       QMessageBox::Yes | QMessageBox::No, &Main, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    // Polls, timers and kavioctl went on while the question was open: keep what is there now.
    removed = UndoStore::recordRows(index);
    if (removed.master.isEmpty() || !writer::remove(index)) {
        Main.RebuildList();
        return;
    }
    Undo->push(std::move(removed));
    Main.RebuildList();
    tell(QStringLiteral("Deleted %1: Ctrl+Z brings it back").arg(Undo->nextDescription()));
}

void TUnitActions::ResetUtility1Click() {
    if (!Launcher::startDetached(QStringLiteral("KavioRst")))
        tell(QStringLiteral("KavioRst was not found"));
}

namespace {

QString counted(qint64 count, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
}

} // namespace

void TUnitActions::EmptyDatabase() {
    const StoreCounts stored = writer::counts();
    // Enter answers No: emptying takes one deliberate click.
    const auto answer = Messages::show(
        MessageKind::Confirmation, QCoreApplication::applicationName(),
        QStringLiteral(
            "All items in the Database will be Deleted\nAre you sure you want to do this?") +
            QStringLiteral("\n\n%1, %2 and %3 will go.")
                .arg(counted(stored.units, "unit", "units"),
                     counted(stored.groups, "group", "groups"),
                     counted(stored.timers, "timer", "timers")),
        QMessageBox::Yes | QMessageBox::No, &Main, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    RemovedRows removed = UndoStore::allRows();
    writer::removeAll();
    Main.KavioTabs->setCurrentIndex(0);
    Undo->push(std::move(removed));
    Main.RebuildList();
    emit databaseEmptied();
    tell(QStringLiteral("The database was emptied: Ctrl+Z brings everything back"));
}

void TUnitActions::Undo1Click() {
    if (!Undo->canUndo())
        return;
    const QString description = Undo->undo();
    Main.RebuildList();
    tell(QStringLiteral("Brought back %1").arg(description));
}

void TUnitActions::updateUndo() {
    Undo1->setEnabled(Undo->canUndo());
    Undo1->setText(
        Undo->canUndo()
            ? QStringLiteral("&Undo Delete %1").arg(blankControlCharacters(Undo->nextDescription()))
            : QStringLiteral("&Undo"));
}

void TUnitActions::tell(const QString& outcome) {
    Main.statusBar()->showMessage(blankControlCharacters(outcome));
}

void TUnitActions::MinimizeToTray1Click() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        Main.showMinimized();
        return;
    }
    if (!tray) {
        tray = new QSystemTrayIcon(Icons::byName(QStringLiteral("1ON")), this);
        tray->setToolTip(QStringLiteral("Kavio Control Center"));
        connect(tray, &QSystemTrayIcon::activated, this, &TUnitActions::restoreFromTray);
    }
    tray->show();
    Main.hide();
}

void TUnitActions::restoreFromTray() {
    if (tray)
        tray->hide();
    Main.showNormal();
    Main.raise();
    Main.activateWindow();
}

} // namespace kavio
