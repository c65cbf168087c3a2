#include "UnitRules.h"

#include "Exception.h"
#include "UIPAddrUtils.h"

namespace kavio::UnitRules {
namespace {

constexpr int MaxAddressLength = 15;

Fault fault(Field field, const QString& message) {
    return Fault{field, message};
}

// The name as entered, between double quotes.
QString nameInUseText(const QString& name) {
    return QStringLiteral("Name already in use \"") + name + QLatin1Char('"');
}

} // namespace

bool hasControlCharacter(const QString& text) {
    for (const QChar character : text) {
        if (character.unicode() < 0x20 || character.unicode() == 0x7F)
            return true;
    }
    return false;
}

QString shortened(const QString& text, int length) {
    if (text.size() <= length)
        return text;
    return text.left(length) + QStringLiteral("...");
}

QString lengthFault(const QString& caption, const QString& text, int limit) {
    if (text.size() <= limit)
        return {};
    return QStringLiteral("%1 longer than %2 characters (it has %3)")
        .arg(caption)
        .arg(limit)
        .arg(text.size());
}

QString addressFault(const QString& address) {
    if (address.isEmpty())
        return QStringLiteral("Invalid IP Address");
    try {
        ValidateIPString(address);
    } catch (const Exception& error) {
        QString message = error.message();
        // A long text is quoted by its beginning only.
        if (address.size() > MaxAddressLength)
            message.replace(address, shortened(address));
        return message;
    }
    return {};
}

QString addressFieldsFault(const QStringList& fields) {
    for (const QString& field : fields) {
        if (field.isEmpty())
            return QStringLiteral("Invalid IP Address");
    }
    return {};
}

QString portFault(const QString& port) {
    if (port.isEmpty())
        return QStringLiteral("You MUST enter a Port");
    // Only a decimal number is a port; a sign, a blank or a letter is refused.
    const int value = IsAllDigits(port) ? port.toInt() : 0;
    if (value < 1 || value > MaxPort)
        return QStringLiteral("Invalid Port Number");
    return {};
}

Fault checkUnit(const UnitInput& unit, const NameTaken& nameTaken, bool limits) {
    if (unit.name.isEmpty())
        return fault(Field::Name, QStringLiteral("You MUST enter a name"));
    if (limits && unit.name.size() > NameLimit)
        return fault(Field::Name, lengthFault(QStringLiteral("Name"), unit.name, NameLimit));
    if (hasControlCharacter(unit.name))
        return fault(Field::Name, QStringLiteral("The Name may not contain control characters"));
    if (!unit.addressFault.isEmpty())
        return fault(Field::Address, unit.addressFault);
    if (limits && !unit.port.isEmpty() && unit.port.size() > PortLimit)
        return fault(Field::Port, lengthFault(QStringLiteral("Port"), unit.port, PortLimit));
    const QString port = portFault(unit.port);
    if (!port.isEmpty())
        return fault(Field::Port, port);
    if (unit.password.isEmpty())
        return fault(Field::Password, QStringLiteral("You Forgot to enter the Kavio's Password"));
    if (limits && unit.password.size() > PasswordLimit)
        return fault(Field::Password,
                     lengthFault(QStringLiteral("Password"), unit.password, PasswordLimit));
    if (hasControlCharacter(unit.password))
        return fault(Field::Password,
                     QStringLiteral("The Password may not contain control characters"));
    if (nameTaken && nameTaken(unit.name))
        return fault(Field::Name, nameInUseText(unit.name));
    return {};
}

Fault checkGroup(const QString& name, qsizetype members, const NameTaken& nameTaken, bool limits) {
    if (name.isEmpty())
        return fault(Field::Name, QStringLiteral("You MUST enter a Group Name"));
    if (limits && name.size() > NameLimit)
        return fault(Field::Name, lengthFault(QStringLiteral("Name"), name, NameLimit));
    if (hasControlCharacter(name))
        return fault(Field::Name,
                     QStringLiteral("The Group Name may not contain control characters"));
    if (members == 0)
        return fault(Field::Members, QStringLiteral("There are no Kavios in the group"));
    if (nameTaken && nameTaken(name))
        return fault(Field::Name, nameInUseText(name));
    return {};
}

} // namespace kavio::UnitRules
