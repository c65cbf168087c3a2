#include "KavioApplication.h"

#include "Exception.h"

namespace kavio {

KavioApplication::KavioApplication(int& argc, char** argv)
    : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("KavioCC"));
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
