#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

namespace kavio::sim {
Q_NAMESPACE

// What a unit does with one complete command.
enum class Outcome {
    Answered,            // writes `reply` (after `delayMs`), then closes
    WrongPassword,       // closes at once without a word
    ClosedWithoutAnswer, // closes at once without a word (CloseAtOnce, or a letter it does not
                         // know)
    NoAnswer,            // keeps the connection open and stays quiet
    Flooding,            // streams bytes until the client closes or a flood limit is reached
};
Q_ENUM_NS(Outcome)

struct Response {
    Outcome outcome = Outcome::ClosedWithoutAnswer;
    QByteArray reply;
    int delayMs = 0;
};

// One line for a human reading the simulator's log, e.g. "answered ON".
QString describe(const Response& response);

} // namespace kavio::sim
