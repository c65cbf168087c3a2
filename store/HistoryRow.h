#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace kavio {

// One finished exchange as the History table keeps it: the unit's name and address as they were
// then, who asked for what, what came back and how it ended.
struct HistoryRow {
    qint64 TimeMs = 0; // when the exchange started, UTC milliseconds since the epoch
    quint16 Index = 0;
    QString Name;
    QString Address;
    quint16 Port = 0;
    QString Command; // the command letter
    quint8 Task = 0;
    QString Source; // sourceName() of who queued it
    QString Reply;  // escaped with EscapedReply
    quint8 Status = 0;
    QString Outcome; // one of HistoryOutcomes()
    qint64 DurationMs = 0;
};

// The outcomes a row can have: "answered", "unknown reply", "refused", "timed out",
// "write failed", "not stored", "still CYCLE".
const QStringList& HistoryOutcomes();

// A reply as plain text: printable ASCII stays, a backslash doubles, every other byte is written
// \xNN. The text never holds a control character.
QString EscapedReply(const QByteArray& reply);
// A name or address that may hold control characters (the database can be edited by hand) as
// one line of plain text: each control character is written \xNN.
QString PlainText(const QString& text);

} // namespace kavio
