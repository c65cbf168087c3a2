#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <functional>

class QKeyEvent;
class QAbstractItemView;
class QMenu;

namespace kavio {

// The device list's keys beyond the toolkit's own:
// - the Menu key and Shift+F10 open the line's menu under the current line;
// - Enter opens the line's properties, Del deletes it (the deletion asks first);
// - a space typed while a type-ahead search is going on ("router c") is part of the search and
//   never ticks the current line. A space on its own still ticks it.
class ListKeys : public QObject {
    Q_OBJECT

public:
    ListKeys(QAbstractItemView& list, QMenu& popup, std::function<void()> properties,
             std::function<void()> remove);

    // Opens the line's menu at the current line, as a right-click there does; nothing without one.
    void openMenu();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool keyPressed(const QKeyEvent& key);
    bool hasCurrentLine() const;

    QAbstractItemView& list;
    QMenu& popup;
    std::function<void()> properties;
    std::function<void()> remove;
    // Since the last character of the type-ahead search; invalid when none is going on.
    QElapsedTimer sinceSearchKey;
};

// The key of a key press as the main keyboard's unshifted key: Shift with a digit gives the
// digit, whatever symbol the layout puts on it, so that Ctrl+Shift+1 is Ctrl+1.
int keyWithoutShift(const QKeyEvent& key);

} // namespace kavio
