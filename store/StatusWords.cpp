#include "StatusWords.h"

#include "Codes.h"

namespace kavio {
namespace {

struct Words {
    const char* script;
    const char* people;
};

constexpr Words ByCode[] = {
    {"ON", "on"},
    {"OFF", "off"},
    {"CYCLE", "cycling"},
    {"UNKNOWN", "unknown"},
    {"UNREACHABLE", "unreachable"},
    {"BUSY", "busy"},
};
static_assert(std::size(ByCode) == StatusBusy + 1);

const Words& wordsOf(qint64 status) {
    return ByCode[status >= StatusOn && status <= StatusBusy ? status : qint64(StatusUnknown)];
}

} // namespace

QString statusWord(qint64 status) {
    return QLatin1String(wordsOf(status).script);
}

QString statusName(qint64 status) {
    return QLatin1String(wordsOf(status).people);
}

} // namespace kavio
