#include "CommandResponder.h"

namespace kavio::sim {

namespace {

Response answer(QByteArray reply, int delayMs = 0) {
    if (reply.isEmpty()) {
        return {Outcome::ClosedWithoutAnswer, {}, 0};
    }
    return {Outcome::Answered, std::move(reply), delayMs};
}

} // namespace

CommandResponder::CommandResponder(const UnitConfig& config)
    : config_(config)
    , switch_(config.cycles) {}

Response CommandResponder::respond(const QByteArray& password, char letter) {
    if (config_.password && *config_.password != password) {
        return {Outcome::WrongPassword, {}, 0};
    }
    switch (config_.behaviour) {
    case Behaviour::Switch:
        return answer(switch_.handle(letter));
    case Behaviour::On:
        return answer(QByteArrayLiteral("ON"));
    case Behaviour::Off:
        return answer(QByteArrayLiteral("OFF"));
    case Behaviour::Busy:
        return answer(QByteArrayLiteral("BUSY"));
    case Behaviour::Cycle:
        if (cycleAnswersGiven_ < config_.cycles) {
            ++cycleAnswersGiven_;
            return answer(QByteArrayLiteral("CYCLE"));
        }
        return answer(QByteArrayLiteral("ON"));
    case Behaviour::Silent:
        return {Outcome::NoAnswer, {}, 0};
    case Behaviour::Slow:
        return answer(switch_.handle(letter), qMax(0, config_.delayMs));
    case Behaviour::CloseAtOnce:
        return {Outcome::ClosedWithoutAnswer, {}, 0};
    case Behaviour::Flood:
        return {Outcome::Flooding, {}, 0};
    case Behaviour::Garbage:
        // An empty garbage reply is a unit that closes without a word; answer() maps it so.
        return answer(config_.reply);
    }
    return {};
}

} // namespace kavio::sim
