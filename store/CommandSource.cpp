#include "CommandSource.h"

#include <array>

namespace kavio {

namespace {

constexpr std::array<const char*, 8> SourceNames{
    "button", "popup", "poll", "timed poll", "timer", "cycle follow-up", "kavioctl", "http",
};

} // namespace

QString sourceName(CommandSource source) {
    const auto position = size_t(source);
    return position < SourceNames.size() ? QString::fromLatin1(SourceNames[position]) : QString();
}

bool sourceFromName(const QString& name, CommandSource& source) {
    for (size_t position = 0; position < SourceNames.size(); ++position) {
        if (name == QLatin1String(SourceNames[position])) {
            source = CommandSource(position);
            return true;
        }
    }
    return false;
}

} // namespace kavio
