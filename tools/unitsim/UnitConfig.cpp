#include "UnitConfig.h"

#include <array>
#include <utility>

namespace kavio::sim {

namespace {

constexpr std::array<std::pair<Behaviour, const char*>, 10> kNames{{
    {Behaviour::Switch, "switch"},
    {Behaviour::On, "on"},
    {Behaviour::Off, "off"},
    {Behaviour::Busy, "busy"},
    {Behaviour::Cycle, "cycle"},
    {Behaviour::Silent, "silent"},
    {Behaviour::Slow, "slow"},
    {Behaviour::CloseAtOnce, "close"},
    {Behaviour::Flood, "flood"},
    {Behaviour::Garbage, "garbage"},
}};

} // namespace

QString behaviourName(Behaviour behaviour) {
    for (const auto& [value, name] : kNames) {
        if (value == behaviour) {
            return QString::fromLatin1(name);
        }
    }
    return {};
}

std::optional<Behaviour> behaviourFromName(const QString& name) {
    const QString wanted = name.trimmed().toLower();
    for (const auto& [value, text] : kNames) {
        if (wanted == QLatin1String(text)) {
            return value;
        }
    }
    return std::nullopt;
}

QStringList behaviourNames() {
    QStringList names;
    for (const auto& entry : kNames) {
        names << QString::fromLatin1(entry.second);
    }
    return names;
}

} // namespace kavio::sim
