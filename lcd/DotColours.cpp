#include "DotColours.h"

#include <cstdlib>

namespace kavio::lcd {
namespace {

int mixChannel(int off, int font, int weight) {
    const int product = (off - font) * weight;
    // Round half away from zero in integers: the product's sign decides the direction.
    const int magnitude = (2 * std::abs(product) + 255) / (2 * 255);
    const int rounded = product < 0 ? -magnitude : magnitude;
    return rounded & 0xFF;
}

} // namespace

TDotColours ComputeDotColours(const QColor& pixelOff, const QColor& fontColour, qint8 intensity) {
    const QColor off = pixelOff.toRgb();
    const QColor font = fontColour.toRgb();
    const int weight = 255 - std::abs(int(intensity));
    const QColor mixed(mixChannel(off.red(), font.red(), weight),
                       mixChannel(off.green(), font.green(), weight),
                       mixChannel(off.blue(), font.blue(), weight));
    if (intensity >= 0)
        return {mixed, off};
    return {off, mixed};
}

} // namespace kavio::lcd
