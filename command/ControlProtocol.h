#pragma once

#include "CommandEntry.h"
#include "CommandResult.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// What kavioctl and a running control center say to each other on the control socket: one line
// of compact JSON per message.
//
//   kavioctl:        {"queue":[[index,task],...]}   or   {"refresh":true}
//   control center:  {"accepted":N}                  or   {"error":"..."}
//                    then, for a queue, one {"result":{...},"entry":I} per entry as it ends.
namespace kavio::control {

// A running control center that has not accepted a request by then is reported as not answering.
constexpr int AnswerTimeoutMs = 2000;
// No line is ever longer (a queue of every possible unit fits easily).
constexpr qint64 MaxLineBytes = 4 * 1024 * 1024;

struct Request {
    // Entries to queue, in order; empty for a refresh.
    QList<TCommandEntry> entries;
    // The units and groups were changed: the control center rereads its list.
    bool refresh = false;
};

QByteArray encodeRequest(const Request& request);
// A request as sent; nullopt (and `error` set) for anything else: bad JSON, an index outside
// 1..65535, an unknown task.
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

} // namespace kavio::control
