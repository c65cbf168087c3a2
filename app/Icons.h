#pragma once

#include <QPixmap>
#include <QString>

namespace kavio {

// The program's eight 16 x 16 pictures, drawn here rather than loaded: "1ON", "1OFF", "1CYCLE",
// "1Unknown", "1Error", "1BUSY", "GroupICO" and "Timer". Names are matched without regard to
// case; an unknown name gives a null pixmap. Each picture is drawn once and then shared.
class Icons {
public:
    static constexpr int Size = 16;

    static QPixmap byName(const QString& name);
    // The picture of a status code 0..5; any other code shows as unknown.
    static QPixmap forStatus(int status);
    static QPixmap group();
    static QPixmap timer();
};

} // namespace kavio
