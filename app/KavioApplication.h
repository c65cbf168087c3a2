#pragma once

#include <QApplication>

namespace kavio {

// The application object. An exception escaping an event handler is shown by the default error
// report (an error box captioned with the application's title) and the program carries on. It
// shows every notice (Notices.h) in a box that does not wait for the operator.
class KavioApplication : public QApplication {
public:
    KavioApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace kavio
