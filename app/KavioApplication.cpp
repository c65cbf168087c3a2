#include "KavioApplication.h"

#include "Exception.h"
#include "Messages.h"

#include <QIcon>

namespace kavio {

KavioApplication::KavioApplication(int& argc, char** argv)
    : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("KavioCC"));
    // The program's icon, drawn at the sizes the desktop installs (see packaging/).
    setDesktopFileName(QStringLiteral("kaviocc"));
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/kaviocc-%1.png").arg(size), QSize(size, size));
    setWindowIcon(icon);
    // The notices of the store and the error reports come up in boxes, like the questions.
    Messages::useBoxes();
}

bool KavioApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        reportException(error);
    }
    return false;
}

} // namespace kavio
