#pragma once

#include "Table.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace kavio {

class CEditIPAddr;

// The unit properties dialog, where the operator creates or changes a unit's record (written
// through the store's one writer of units and groups, UnitWriter.h).
//
// The caller prepares it before each display: ClearFields and IsNew = true for a new unit, or
// LoadItem (which sets IsNew to false) for an existing one; then exec(). exec() returns Accepted
// only after OK has checked the input and saved the record; Cancel or closing the window writes
// nothing.
class TItemPropFRM : public QDialog {
    Q_OBJECT

public:
    static constexpr int NameLimit = 32;
    static constexpr int PortLimit = 5;
    static constexpr int PasswordLimit = 10;
    static constexpr int MaxPort = 65535;

    explicit TItemPropFRM(QWidget* parent = nullptr);

    // True: OK appends a new unit. False: OK rewrites the unit LoadItem found.
    bool IsNew = true;

    // Empties name, address and password and sets the port to 80; IsNew becomes true.
    void ClearFields();
    // Fills the fields from the unit with this Index; IsNew becomes false. When there is none:
    // the exclamation beep, the error box "Could not locate the Kavio", and false.
    bool LoadItem(quint16 index);

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLineEdit* KavioName;
    CEditIPAddr* IPAddress;
    QLineEdit* Port;
    QLineEdit* PasswordEdit;
    QPushButton* Button1;
    QPushButton* Button2;

public slots:
    // OK: checks the input in order, stops at the first fault, else saves and closes.
    void Button1Click();
    // Cancel: closes, writing nothing.
    void Button2Click();

public:
    // The port's key filter: a typed character other than a digit or Backspace is refused with
    // the default beep. True: the key stroke is consumed.
    bool PortKeyPress(QKeyEvent* event);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    bool checkInput();
    void save();

    TTable MasterTable{QStringLiteral("Master.DB")};
    // The Index of the unit LoadItem found.
    quint16 loadedIndex = 0;
};

} // namespace kavio
