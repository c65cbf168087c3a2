#include "ScriptParser.h"

#include "Exception.h"

namespace kavio::lcd {
namespace {

constexpr int maxNameLength = 25;

qint32 toInteger(const QString& text) {
    bool ok = false;
    const qint32 value = text.toInt(&ok, 10);
    // toInt would forgive surrounding blanks; an argument must be the bare number.
    if (!ok || text != text.trimmed())
        throw Exception(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return value;
}

// The text of `text` from `start` holding `count` characters; empty when count is not positive,
// as when the character sought is missing.
QString span(const QString& text, qsizetype start, qsizetype count) {
    if (count <= 0 || start >= text.size())
        return {};
    return text.mid(start, count);
}

} // namespace

QList<TScriptCommand> ParseScriptLine(const QString& line) {
    const qsizetype commandCount = line.count(QLatin1Char(';'));
    QString body = span(line, 1, line.size() - 2).toLower().trimmed();

    QList<TScriptCommand> commands;
    for (qsizetype i = 0; i < commandCount; ++i) {
        const QString piece = span(body, 0, body.indexOf(QLatin1Char(';')) + 1).trimmed();
        const QString name = span(piece, 0, piece.indexOf(QLatin1Char('('))).trimmed();
        const qsizetype argumentStart = name.size() + 1;
        const QString argument =
            span(piece, argumentStart, piece.indexOf(QLatin1Char(')')) - argumentStart);
        commands.append(TScriptCommand{name.left(maxNameLength), toInteger(argument)});
        body = body.mid(piece.size()).trimmed();
    }
    return commands;
}

} // namespace kavio::lcd
