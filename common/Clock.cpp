#include "Clock.h"

namespace kavio {
namespace {

Clock::Source& source() {
    static Clock::Source current;
    return current;
}

} // namespace

QDateTime Clock::now() {
    const Source& current = source();
    return current ? current() : QDateTime::currentDateTime();
}

void Clock::setSource(Source newSource) {
    source() = std::move(newSource);
}

} // namespace kavio
