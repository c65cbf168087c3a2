#pragma once

#include <QPixmap>
#include <QString>

namespace kavio {

// The program's eight 16 x 16 pictures, drawn here rather than loaded: "1ON", "1OFF", "1CYCLE",
// "1Unknown", "1Error", "1BUSY", "GroupICO" and "Timer". Names are matched without regard to
// case; an unknown name gives a null pixmap. Each picture is drawn once for each device pixel
// ratio asked for (16 x 16 logical pixels, sharp on a scaled screen) and then shared.
class Icons {
public:
    static constexpr int Size = 16;

    static QPixmap byName(const QString& name, qreal ratio = 1.0);
    // The picture of a status code 0..5; any other code shows as unknown.
    static QPixmap forStatus(int status, qreal ratio = 1.0);
    static QPixmap group(qreal ratio = 1.0);
    static QPixmap timer(qreal ratio = 1.0);
};

} // namespace kavio
