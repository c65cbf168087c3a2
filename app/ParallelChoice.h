#pragma once

#include <QObject>

class QAction;
class QMenu;
class QWidget;

namespace kavio {

class TCommandEngine;

// Poll > Parallel exchanges…: how many exchanges the queue runs at once, kept in the settings
// file and applied to the engine at once. The question does not wait in a nested loop: polling
// and timers go on while it is open.
class ParallelChoice : public QObject {
    Q_OBJECT

public:
    ParallelChoice(QMenu* pollMenu, QWidget* window);

    // Applies the stored setting to the engine (a wrong stored value is reported, and one
    // exchange runs at a time); later choices go to it too.
    void setEngine(TCommandEngine* engine);
    QAction* action() const { return item; }

    // Applies the choice and stores it; false (and the operator is told) when it cannot be saved.
    bool choose(int exchanges);
    void ask();

signals:
    // A choice was stored in the settings file.
    void stored();

private:
    QAction* item;
    QWidget* window;
    TCommandEngine* engine = nullptr;
};

} // namespace kavio
