#pragma once

#include "Table.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace kavio {

// The group properties dialog: creates a group or edits one. The operator names the group and
// moves units between the units outside it (left) and its members (right); OK writes the group
// record and all of its membership rows afresh.
//
// The caller prepares it before each display: IsNew = true for a new group, or LoadGroup (which
// sets IsNew to false) for an existing one; then exec(). Each display starts by offering the
// units that are not members (FormShow); each close, OK or Cancel, empties both lists
// (FormClose), so an edit must be loaded again before the next display. exec() returns Accepted
// only after a successful save.
class TGroupPropFRM : public QDialog {
    Q_OBJECT

public:
    static constexpr int NameLimit = 32;

    explicit TGroupPropFRM(QWidget* parent = nullptr);

    // True: OK creates a new group. False: OK rewrites the group LoadGroup loaded.
    bool IsNew = true;

    // Loads the group's name and members for editing; IsNew becomes false.
    void LoadGroup(quint16 index);

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLineEdit* GroupName;
    QListWidget* SourceList;
    QListWidget* GroupList;
    QPushButton* Button1;
    QPushButton* Button2;
    QPushButton* Button3;
    QPushButton* Button4;

    // The unit Index an entry of either list carries.
    static quint16 entryIndex(const QListWidget* list, int row);

public slots:
    void FormShow();
    void FormClose();
    // "Add ->": the selected units become members.
    void Button1Click();
    // "<- Remove": the selected members leave the group.
    void Button2Click();
    // OK: checks the input in order, stops at the first fault, else saves and closes.
    void Button3Click();

public:
    void FillSourceList();
    void MoveSelected(QListWidget* from, QListWidget* to);
    void FreeListEntries(QListWidget* list);

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool checkInput();
    void save();
    bool isMember(quint16 unit) const;

    TTable MasterTable{QStringLiteral("Master.DB")};
    TTable GroupTable{QStringLiteral("Group.DB")};
    // The Index of the group LoadGroup loaded.
    quint16 groupIndex = 0;
};

} // namespace kavio
