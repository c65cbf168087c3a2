#include "UnitActions.h"

#include "AboutBox.h"
#include "Exception.h"
#include "GlobalFunctions.h"
#include "GroupProperties.h"
#include "Icons.h"
#include "ItemProperties.h"
#include "Launcher.h"
#include "Main.h"
#include "Messages.h"
#include "UIPAddrUtils.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTabBar>

namespace kavio {

TUnitActions::TUnitActions(TKavioCCMain& main, TItemPropFRM& itemDialog, TGroupPropFRM& groupDialog,
                           TAboutBox& aboutBox)
    : QObject(&main)
    , Main(main)
    , ItemPropFRM(itemDialog)
    , GroupPropFRM(groupDialog)
    , AboutBox(aboutBox) {
    buildMenus();
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
    Close1 = Main.File1->addAction(QStringLiteral("Close"));
    connect(Close1, &QAction::triggered, &Main, &QWidget::close);

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

QString TUnitActions::checkedAddress() const {
    const TKavio* entry = Main.CurrentEntry();
    if (!entry || entry->Group)
        return {};
    try {
        ValidateIPString(entry->IPAddress);
    } catch (const Exception&) {
        return {};
    }
    return entry->IPAddress;
}

void TUnitActions::OpenInBrowser1Click() {
    const QString address = checkedAddress();
    if (!address.isEmpty())
        Launcher::openUrl(QUrl(QStringLiteral("http://") + address));
}

void TUnitActions::Ping1Click() {
    const QString address = checkedAddress();
    if (address.isEmpty())
        return;
    const QStringList arguments{QStringLiteral("-e"), QStringLiteral("ping"), address};
    if (!Launcher::startDetached(QStringLiteral("x-terminal-emulator"), arguments))
        Launcher::startDetached(QStringLiteral("xterm"), arguments);
}

void TUnitActions::Delete1Click() {
    const TKavio* entry = Main.CurrentEntry();
    if (!entry)
        return;
    const quint16 index = entry->Index;
    OpenByIndex(MasterTable, index);
    if (MasterTable.eof()) {
        // Gone already (another program, or a second click): only the list is stale.
        CloseFiltered(MasterTable);
        Main.RebuildList();
        return;
    }
    const bool group = MasterTable.fieldByName(QStringLiteral("Group")).asBoolean();
    if (group)
        OpenByGroupIndex(GroupTable, index);
    else
        OpenByIndex(GroupTable, index);
    while (!GroupTable.eof())
        GroupTable.deleteRecord();
    CloseFiltered(GroupTable);
    MasterTable.deleteRecord();
    CloseFiltered(MasterTable);
    Main.RebuildList();
}

void TUnitActions::ResetUtility1Click() {
    Launcher::startDetached(QStringLiteral("KavioRst"));
}

void TUnitActions::EmptyDatabase() {
    const auto answer = Messages::show(
        MessageKind::Confirmation, QCoreApplication::applicationName(),
        QStringLiteral(
            "All items in the Database will be Deleted\nAre you sure you want to do this?"),
        QMessageBox::Yes | QMessageBox::No, &Main);
    if (answer != QMessageBox::Yes)
        return;
    MasterTable.emptyTable();
    GroupTable.emptyTable();
    TimerTable.emptyTable();
    Main.KavioTabs->setCurrentIndex(0);
    Main.RebuildList();
    emit databaseEmptied();
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
