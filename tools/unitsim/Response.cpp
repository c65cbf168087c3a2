#include "Response.h"

#include "TextEscapes.h"

namespace kavio::sim {

QString describe(const Response& response) {
    switch (response.outcome) {
    case Outcome::Answered:
        if (response.delayMs > 0) {
            return QStringLiteral("answering %1 after %2 ms")
                .arg(escapeBytes(response.reply))
                .arg(response.delayMs);
        }
        return QStringLiteral("answered %1").arg(escapeBytes(response.reply));
    case Outcome::WrongPassword:
        return QStringLiteral("wrong password, closed without answer");
    case Outcome::ClosedWithoutAnswer:
        return QStringLiteral("closed without answer");
    case Outcome::NoAnswer:
        return QStringLiteral("no answer, connection left open");
    case Outcome::Flooding:
        return QStringLiteral("flooding");
    }
    return {};
}

} // namespace kavio::sim
