#include "ControlCharacters.h"
#include "CtlCommands.h"
#include "Exception.h"
#include "StatusWords.h"
#include "UnitDirectory.h"

#include <QSet>
#include <QTextStream>
#include <algorithm>

namespace kavio::ctl {
namespace {

const QString None = QStringLiteral("-");

// The columns of the text listing, one word each but the last two, so that a script can split
// a line at blanks: KIND INDEX STATUS TIMER ADDRESS PORT NAME GROUPS.
QStringList textColumns(const StoredRecord& record) {
    const auto orNone = [](const QString& text) { return text.isEmpty() ? None : text; };
    QString name = escapeControlCharacters(record.name);
    if (name.isEmpty())
        name = QStringLiteral("\"\"");
    QStringList groups;
    for (const QString& group : record.groups)
        groups << escapeControlCharacters(group);
    return {record.group ? QStringLiteral("group") : QStringLiteral("unit"),
            QString::number(record.index),
            record.group ? None : statusWord(record.status),
            record.timer ? QStringLiteral("yes") : QStringLiteral("no"),
            orNone(escapeControlCharacters(record.address)),
            orNone(escapeControlCharacters(record.port)),
            name,
            groups.isEmpty() ? None : groups.join(QLatin1Char(';'))};
}

void printText(const std::vector<StoredRecord>& records, QTextStream& out) {
    std::vector<QStringList> lines;
    lines.reserve(records.size() + 1);
    lines.push_back({QStringLiteral("KIND"), QStringLiteral("INDEX"), QStringLiteral("STATUS"),
                     QStringLiteral("TIMER"), QStringLiteral("ADDRESS"), QStringLiteral("PORT"),
                     QStringLiteral("NAME"), QStringLiteral("GROUPS")});
    for (const StoredRecord& record : records)
        lines.push_back(textColumns(record));
    const qsizetype columns = lines.front().size();
    std::vector<qsizetype> widths(size_t(columns), 0);
    for (const QStringList& line : lines) {
        for (qsizetype column = 0; column < columns; ++column)
            widths[size_t(column)] = std::max(widths[size_t(column)], line[column].size());
    }
    // The whole listing is built first and written at once.
    QString text;
    for (const QStringList& line : lines) {
        for (qsizetype column = 0; column + 1 < columns; ++column) {
            text += line[column];
            text += QString(widths[size_t(column)] - line[column].size() + 2, QLatin1Char(' '));
        }
        text += line.back();
        text += QLatin1Char('\n');
    }
    out << text;
}

// A JSON string: quotes, backslashes and control characters escaped; the rest as it is.
void appendJsonString(QString& json, const QString& text) {
    json += QLatin1Char('"');
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code == u'"' || code == u'\\') {
            json += QLatin1Char('\\');
            json += c;
        } else if (code == u'\n') {
            json += QStringLiteral("\\n");
        } else if (code < 0x20 || code == 0x2028 || code == 0x2029) {
            json += QStringLiteral("\\u%1").arg(int(code), 4, 16, QLatin1Char('0'));
        } else {
            json += c;
        }
    }
    json += QLatin1Char('"');
}

// An array of one object per line, with the keys name, kind, index, address, port, groups,
// status and timer; a group's port and status are null.
void printJson(const std::vector<StoredRecord>& records, QTextStream& out) {
    QString json = QStringLiteral("[");
    bool first = true;
    for (const StoredRecord& record : records) {
        json += first ? QStringLiteral("\n  {\"name\": ") : QStringLiteral(",\n  {\"name\": ");
        first = false;
        appendJsonString(json, record.name);
        json += record.group ? QStringLiteral(", \"kind\": \"group\", \"index\": ")
                             : QStringLiteral(", \"kind\": \"unit\", \"index\": ");
        json += QString::number(record.index);
        json += QStringLiteral(", \"address\": ");
        appendJsonString(json, record.address);
        bool number = false;
        const int port = record.port.toInt(&number);
        json += QStringLiteral(", \"port\": ");
        json += number ? QString::number(port) : QStringLiteral("null");
        json += QStringLiteral(", \"groups\": [");
        for (qsizetype i = 0; i < record.groups.size(); ++i) {
            if (i > 0)
                json += QStringLiteral(", ");
            appendJsonString(json, record.groups[i]);
        }
        json += QStringLiteral("], \"status\": ");
        if (record.group)
            json += QStringLiteral("null");
        else
            appendJsonString(json, statusWord(record.status));
        json += record.timer ? QStringLiteral(", \"timer\": true}")
                             : QStringLiteral(", \"timer\": false}");
    }
    json += first ? QStringLiteral("]\n") : QStringLiteral("\n]\n");
    out << json;
}

// The members of the group named `group`, in the order of its tab in the control center.
// Gives false, with a message, when no single group has that name.
bool membersOf(const QString& group, std::vector<StoredRecord>& records, QTextStream& err) {
    QList<quint16> keys;
    bool unit = false;
    for (const StoredRecord& record : records) {
        if (record.name != group)
            continue;
        if (record.group)
            keys << record.index;
        else
            unit = true;
    }
    const QString quoted = QLatin1Char('"') + escapeControlCharacters(group) + QLatin1Char('"');
    if (keys.isEmpty()) {
        err << "kavioctl: " << quoted
            << (unit ? " is a unit, not a group\n" : " is the name of no group\n");
        return false;
    }
    if (keys.size() > 1) {
        err << "kavioctl: more than one group is named " << quoted << '\n';
        return false;
    }
    const QSet<quint16> members = directory::memberKeys(keys.front());
    std::vector<StoredRecord> listed;
    for (StoredRecord& record : records) {
        if (members.contains(record.index))
            listed.push_back(std::move(record));
    }
    // Like the group's tab: members in name order, equal names by key.
    std::sort(listed.begin(), listed.end(),
              [](const StoredRecord& a, const StoredRecord& b) { return a.index < b.index; });
    directory::sortByName(listed);
    records = std::move(listed);
    if (records.empty())
        err << "kavioctl: the group " << quoted << " has no members\n";
    return true;
}

} // namespace

int runList(const QString& group, bool json, QTextStream& out, QTextStream& err) {
    try {
        std::vector<StoredRecord> records = directory::readStore(false);
        if (!group.isEmpty() && !membersOf(group, records, err))
            return ExitFailed;
        if (json)
            printJson(records, out);
        else
            printText(records, out);
    } catch (const Exception& error) {
        err << "kavioctl: " << escapeControlCharacters(error.message()) << '\n';
        return ExitFailed;
    }
    return ExitOk;
}

} // namespace kavio::ctl
