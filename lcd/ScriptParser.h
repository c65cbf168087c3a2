#pragma once

#include <QList>
#include <QString>

namespace kavio::lcd {

// One command of an animation script line: a name (at most 25 characters, lower case) and its
// argument.
struct TScriptCommand {
    QString name;
    qint32 argument = 0;

    friend bool operator==(const TScriptCommand&, const TScriptCommand&) = default;
};

// Splits one script line into its commands. The line's first and last characters are
// delimiters and are dropped; then come commands of the form name(integer); with blanks allowed
// between them. One command is read per ";" anywhere in the line, delimiters included.
// Throws kavio::Exception when an argument is not an integer (including a missing "(" or ")",
// a blank before the "(", or a final ";" that was dropped as a delimiter); no command of such a
// line is returned.
QList<TScriptCommand> ParseScriptLine(const QString& line);

} // namespace kavio::lcd
