#pragma once

#include <QObject>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace kavio {

class TAboutBox;
class TGroupPropFRM;
class TItemPropFRM;
class TKavioCCMain;
class UndoStore;

// What the operator does to the set of units and groups from the main window, apart from power
// commands and timers: new units and groups, properties, the unit's web page, ping, delete, the
// reset utility, emptying the database, and the keys Ctrl+A and Ctrl+E. Fills the File, Edit and
// Tools menus and the list's popup menu below its power entries. Deleting and emptying ask first
// (No is the default) and can be undone with Edit > Undo. An action whose result cannot be seen
// (a program that would not start, a record that is gone) says so in the status bar.
class TUnitActions : public QObject {
    Q_OBJECT

public:
    TUnitActions(TKavioCCMain& main, TItemPropFRM& itemDialog, TGroupPropFRM& groupDialog,
                 TAboutBox& aboutBox);

    void Kavio1Click();
    void Group1Click();
    void PopupMenuPopup();
    void Properties1Click();
    void OpenInBrowser1Click();
    void Ping1Click();
    void Delete1Click();
    void ResetUtility1Click();
    void EmptyDatabase();
    void MinimizeToTray1Click();
    void Undo1Click();

    UndoStore& undoStore() { return *Undo; }

    QAction* Kavio1;
    QAction* Group1;
    QAction* MinimizeToTray1;
    QAction* Close1;
    QMenu* Edit1;
    QAction* Undo1;
    QAction* ResetUtility1;
    // The separator after the power entries: the timer entries go right after it.
    QAction* TimerSeparator;
    QAction* OpenInBrowser1;
    QAction* Ping1;
    QAction* Delete1;
    QAction* Properties1;

signals:
    // The database was emptied: whatever shows timers must forget them.
    void databaseEmptied();

private:
    void buildMenus();
    // The address of the current unit line when it passes the address rules again (the record
    // may have been edited by hand); empty otherwise.
    QString checkedAddress();
    void restoreFromTray();
    void updateUndo();
    void tell(const QString& outcome);

    TKavioCCMain& Main;
    TItemPropFRM& ItemPropFRM;
    TGroupPropFRM& GroupPropFRM;
    TAboutBox& AboutBox;
    QSystemTrayIcon* tray = nullptr;
    UndoStore* Undo;
};

} // namespace kavio
