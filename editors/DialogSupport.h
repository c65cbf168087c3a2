#pragma once

#include "GlobalFunctions.h"
#include "Table.h"

#include <QString>

class QLineEdit;
class QWidget;

namespace kavio {

// Leaves a table closed and unfiltered when the scope ends, also when an error leaves it: no
// operation of a dialog keeps a table open or filtered across events.
class TableScope {
public:
    explicit TableScope(TTable& table)
        : m_table(table) {}
    ~TableScope() { CloseFiltered(m_table); }
    TableScope(const TableScope&) = delete;
    TableScope& operator=(const TableScope&) = delete;

private:
    TTable& m_table;
};

// Shared by the editing dialogs.

// An input fault: the exclamation beep and an error box with an OK button.
void showInputFault(QWidget* parent, const QString& text);

// Puts a stored text into an edit field unchanged. The field's limit binds what the operator
// types; a longer stored text (a hand-edited record) widens it for this text rather than being
// cut, so that an unchanged OK writes back exactly what was read.
void setStoredText(QLineEdit* edit, const QString& text, int limit);

// The dialogs' font: 11-pixel "MS Sans Serif" (or the system's nearest match).
void useDialogFont(QWidget* dialog);

} // namespace kavio
