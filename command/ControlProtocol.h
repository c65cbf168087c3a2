#pragma once

#include "CommandEntry.h"
#include "CommandResult.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

// What kavioctl and a running control center say to each other on the control socket: one line
// of compact JSON per message.
//
//   kavioctl:        {"queue":[[index,task],...]}   or   {"refresh":true}
//   control center:  {"accepted":N}                  or   {"error":"..."}
//                    then, for a queue, one {"result":{...},"entry":I} per entry as it ends.
//
// A queue may name who queued it ({"queue":[...],"source":"button"}); kavioctl's entries are
// kavioctl's. {"settings":true} says the settings file changed. {"subscribe":true} opens a
// subscription instead (see ControlNotice.h): the connection stays open, the program that serves
// the units tells of everything it does, and the subscriber may send any number of the requests
// above, which are then not answered.
namespace kavio::control {

// A running control center that has not accepted a request by then is reported as not answering.
constexpr int AnswerTimeoutMs = 2000;
// No line is ever longer (a queue of every possible unit fits easily).
constexpr qint64 MaxLineBytes = 4 * 1024 * 1024;

struct Request {
    // Entries to queue, in order, each with its source; empty for the other requests.
    QList<TCommandEntry> entries;
    // The units, groups or timers were changed: the program serving them rereads them.
    bool refresh = false;
    // The settings file was changed: the program serving the units reads it again.
    bool settings = false;
    // A subscription to what the program serving the units does.
    bool subscribe = false;
};

// Entries of one request share the source of the first.
QByteArray encodeRequest(const Request& request);
// A request as sent; nullopt (and `error` set) for anything else: bad JSON, an index outside
// 1..65535, an unknown task, an unknown source.
std::optional<Request> decodeRequest(const QByteArray& line, QString* error);

QByteArray encodeAccepted(int count);
QByteArray encodeError(const QString& message);
QByteArray encodeResult(int entry, const TCommandResult& result);

// One answer of the control center.
struct Answer {
    enum class Kind { Accepted, Error, Result };
    Kind kind = Kind::Error;
    int count = 0;   // Accepted
    QString message; // Error
    int entry = -1;  // Result: the position of the entry in the request
    TCommandResult result;
};

// nullopt for a line that is none of the answers above.
std::optional<Answer> decodeAnswer(const QByteArray& line);

// A result's fields as the answers and the notifications carry them, and back.
QJsonObject resultObject(const TCommandResult& result);
TCommandResult resultFrom(const QJsonObject& fields);
// One message as a line, and a line as a message (nullopt for anything but a JSON object).
QByteArray line(const QJsonObject& message);
std::optional<QJsonObject> object(const QByteArray& line);

} // namespace kavio::control
