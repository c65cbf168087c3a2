// lcddemo: shows the dot-matrix display in several configurations. With --screenshot FILE.png it
// saves a picture of the window and exits, which also works without a display
// (QT_QPA_PLATFORM=offscreen).

#include "DemoWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lcddemo"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The dot-matrix LCD display, side by side."));
    parser.addHelpOption();
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("Save the window to <file> and exit."),
                                        QStringLiteral("file"));
    parser.addOption(screenshot);
    parser.process(app);

    DemoWindow window;
    window.show();
    if (!parser.isSet(screenshot))
        return app.exec();

    int status = 0;
    QTimer::singleShot(0, &window, [&] {
        window.prepareStill(40);
        const QString file = parser.value(screenshot);
        if (!window.grab().save(file)) {
            std::fprintf(stderr, "lcddemo: cannot write %s\n", qPrintable(file));
            status = 1;
        }
        QApplication::quit();
    });
    app.exec();
    return status;
}
