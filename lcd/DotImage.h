#pragma once

#include <QImage>

#include <vector>

namespace kavio::lcd {

// A one-bit picture in which one element stands for one display dot: lit or unlit. One byte
// per dot keeps composition simple and lets the dot painter skip eight unlit dots with a single
// 64-bit read.
class TDotImage {
public:
    TDotImage() = default;
    TDotImage(int width, int height);

    int width() const { return m_width; }
    int height() const { return m_height; }
    bool isEmpty() const { return m_width == 0 || m_height == 0; }

    bool isLit(int x, int y) const;
    void setLit(int x, int y, bool lit);
    const quint8* row(int y) const { return m_dots.data() + std::size_t(y) * m_width; }
    quint8* row(int y) { return m_dots.data() + std::size_t(y) * m_width; }

    // Lays `source` with its top-left corner at (x, y); whatever falls outside is clipped.
    // Opaque copying replaces every dot under the source's rectangle; a transparent one only
    // adds the source's lit dots.
    enum class CopyMode { Opaque, Transparent };
    void copyFrom(const TDotImage& source, int x, int y, CopyMode mode = CopyMode::Opaque);

    // Grows to at least the given size; new dots are unlit, existing ones keep their place.
    void growTo(int width, int height);

    // A dot is lit where the picture is dark (grey level below the middle), after any
    // transparency has been laid over white.
    static TDotImage fromDarkPixels(const QImage& picture);
    // Black lit dots on white, for showing or saving the picture.
    QImage toImage() const;

    friend bool operator==(const TDotImage&, const TDotImage&) = default;

private:
    int m_width = 0;
    int m_height = 0;
    std::vector<quint8> m_dots;
};

} // namespace kavio::lcd
