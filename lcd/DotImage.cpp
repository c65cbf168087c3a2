#include "DotImage.h"

#include <QPainter>

#include <algorithm>
#include <cstring>

namespace kavio::lcd {

TDotImage::TDotImage(int width, int height)
    : m_width(std::max(width, 0))
    , m_height(std::max(height, 0))
    , m_dots(std::size_t(m_width) * m_height, 0) {}

bool TDotImage::isLit(int x, int y) const {
    if (x < 0 || y < 0 || x >= m_width || y >= m_height)
        return false;
    return row(y)[x] != 0;
}

void TDotImage::setLit(int x, int y, bool lit) {
    if (x < 0 || y < 0 || x >= m_width || y >= m_height)
        return;
    row(y)[x] = lit ? 1 : 0;
}

void TDotImage::copyFrom(const TDotImage& source, int x, int y, CopyMode mode) {
    // Work in 64-bit so that offsets far outside the picture cannot overflow.
    const qint64 left = std::max<qint64>(x, 0);
    const qint64 top = std::max<qint64>(y, 0);
    const qint64 right = std::min<qint64>(qint64(x) + source.m_width, m_width);
    const qint64 bottom = std::min<qint64>(qint64(y) + source.m_height, m_height);
    if (left >= right || top >= bottom)
        return;
    const std::size_t count = std::size_t(right - left);
    for (qint64 ty = top; ty < bottom; ++ty) {
        const quint8* from = source.row(int(ty - y)) + (left - x);
        quint8* to = row(int(ty)) + left;
        if (mode == CopyMode::Opaque) {
            std::memcpy(to, from, count);
        } else {
            for (std::size_t i = 0; i < count; ++i)
                to[i] |= from[i];
        }
    }
}

void TDotImage::growTo(int width, int height) {
    if (width <= m_width && height <= m_height)
        return;
    TDotImage grown(std::max(width, m_width), std::max(height, m_height));
    grown.copyFrom(*this, 0, 0);
    *this = std::move(grown);
}

TDotImage TDotImage::fromDarkPixels(const QImage& picture) {
    if (picture.isNull())
        return {};
    QImage flat(picture.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    {
        QPainter painter(&flat);
        painter.drawImage(0, 0, picture);
    }
    TDotImage dots(flat.width(), flat.height());
    for (int y = 0; y < flat.height(); ++y) {
        const auto* pixels = reinterpret_cast<const QRgb*>(flat.constScanLine(y));
        quint8* out = dots.row(y);
        for (int x = 0; x < flat.width(); ++x)
            out[x] = qGray(pixels[x]) < 128 ? 1 : 0;
    }
    return dots;
}

QImage TDotImage::toImage() const {
    QImage image(m_width, m_height, QImage::Format_Mono);
    image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    for (int y = 0; y < m_height; ++y) {
        for (int x = 0; x < m_width; ++x)
            image.setPixel(x, y, row(y)[x] ? 1 : 0);
    }
    return image;
}

} // namespace kavio::lcd
