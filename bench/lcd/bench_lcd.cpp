// Paint times of the dot-matrix display, printed next to their targets. Each figure is the
// median of many full paints (composition of the dot image, the dot cells, the border and the
// copy to the target) rendered into an off-screen image.

#include "LCDScreen.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace kavio::lcd;

namespace {

double medianMilliseconds(int runs, const std::function<void()>& work) {
    std::vector<qint64> times;
    times.reserve(runs);
    QElapsedTimer timer;
    for (int i = 0; i < runs; ++i) {
        timer.start();
        work();
        times.push_back(timer.nsecsElapsed());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2] / 1e6;
}

double medianPaint(TLCDScreen& screen, int runs) {
    QImage target(screen.size(), QImage::Format_RGB32);
    screen.render(&target); // warm-up: first paint settles the grid
    return medianMilliseconds(runs, [&] { screen.render(&target); });
}

void report(const char* what, double measured, double target) {
    std::printf("%-58s median %8.3f ms   target <= %5.2f ms   %s\n", what, measured, target,
                measured <= target ? "ok" : "MISSED");
}

void info(const char* what, double measured) {
    std::printf("%-58s median %8.3f ms\n", what, measured);
}

QFont benchFont(int pixelSize) {
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(pixelSize);
    return font;
}

} // namespace

int main(int argc, char** argv) {
    // Nothing is shown; painting off-screen needs no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    TLCDScreen clock;
    clock.resize(221, 53);
    clock.setFont(benchFont(14));
    clock.setFontColor(QColor(255, 0, 0));
    clock.setPixelOff(QColor(128, 0, 0));
    clock.setColor(Qt::black);
    clock.setLines({QStringLiteral("12:34:56")});
    report("paint, runner's clock 221x53, 2x2 dots, spacing 1", medianPaint(clock, 5000), 0.5);

    QStringList text;
    for (int i = 0; i < 20; ++i)
        text.append(QStringLiteral("%1 The quick brown fox jumps over the lazy dog; "
                                   "PACK MY BOX WITH FIVE DOZEN LIQUOR JUGS 0123456789")
                        .arg(i, 2));
    for (int spacing : {0, 1}) {
        TLCDScreen large;
        large.setPixelSize(pix1x1);
        large.setPixelSpacing(qint8(spacing));
        large.resize(640, 200);
        large.setFont(benchFont(10));
        large.setLines(text);
        const QByteArray label = QStringLiteral("paint, 640x200 full of text, 1x1 dots, spacing %1")
                                     .arg(spacing)
                                     .toLatin1();
        report(label.constData(), medianPaint(large, 500), 5.0);
    }

    // Not a paint, but what the runner pays once a second before its repaint.
    int second = 0;
    info("text change of the clock line (markup, text image, paint)", medianMilliseconds(1000, [&] {
             clock.setLines(
                 {QStringLiteral("12:34:%1").arg(second++ % 60, 2, 10, QLatin1Char('0'))});
             QImage target(clock.size(), QImage::Format_RGB32);
             clock.render(&target);
         }));
    return 0;
}
