#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace kavio::UnitRules {

// The rules a unit's and a group's record must meet before it is stored, with the messages the
// operator reads. The unit and group dialogs check their fields with them, and so does everything
// else that adds units or groups (the command-line import). Each check gives the message of the
// first fault, or an empty text when there is none.

// The limits of the dialogs' fields.
constexpr int NameLimit = 32;
constexpr int PortLimit = 5;
constexpr int PasswordLimit = 10;
constexpr int MaxPort = 65535;

enum class Field { Name, Address, Port, Password, Members };

struct Fault {
    Field field = Field::Name;
    QString message; // empty: no fault

    explicit operator bool() const { return !message.isEmpty(); }
};

// Whether a name is already taken; asked only once every other check has passed.
using NameTaken = std::function<bool(const QString& name)>;

// A unit as entered. The address is judged apart (addressFault or addressFieldsFault), since the
// dialog's address control admits only valid octets and is only tested for being filled in.
struct UnitInput {
    QString name;
    QString addressFault;
    QString port;
    QString password;
};

// The checks of a unit in the dialog's order: name, address, port, password, name in use. A name
// or password holding a control character is refused whatever the limits. With
// `limits`, a field longer than the dialog's field admits is a fault too (the dialog itself needs
// no such check: its fields stop the typing, and a longer stored text is written back as read).
Fault checkUnit(const UnitInput& unit, const NameTaken& nameTaken, bool limits);

// The checks of a group in the dialog's order: name, members, name in use.
Fault checkGroup(const QString& name, qsizetype members, const NameTaken& nameTaken, bool limits);

// Whether a text holds a control character: one below U+0020, or U+007F. A password goes into
// the frame sent to its unit as it is, where an ESC or a CR in it would end the password and
// start a command nobody asked for; in a name such a character garbles every list and message.
bool hasControlCharacter(const QString& text);
// An address as text: empty is "Invalid IP Address"; otherwise the address validation's message,
// with an over-long address shortened in it.
QString addressFault(const QString& address);
// The address control's four fields: "Invalid IP Address" when any of them is empty.
QString addressFieldsFault(const QStringList& fields);
// The port's text: empty, or not a decimal number in 1..MaxPort.
QString portFault(const QString& port);
// A text longer than `limit`, as "<caption> longer than <limit> characters (it has <n>)".
QString lengthFault(const QString& caption, const QString& text, int limit);
// The beginning of a text for a message: at most `length` characters, with "..." when cut.
QString shortened(const QString& text, int length = 40);

} // namespace kavio::UnitRules
