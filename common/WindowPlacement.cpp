#include "WindowPlacement.h"
#include "SettingsFile.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>

namespace kavio::WindowPlacement {
namespace {

QString keyOf(const QString& window) {
    return QStringLiteral("Geometry/") + window;
}

QScreen* screenOf(const QWidget* window) {
    if (QScreen* shown = window->screen())
        return shown;
    return QGuiApplication::primaryScreen();
}

// Fits its window on every showing. The frame comes later than the Show event on most window
// systems, so the fit is made again from the event loop.
class ScreenKeeper : public QObject {
public:
    explicit ScreenKeeper(QWidget* window)
        : QObject(window) {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            QPointer<QWidget> window = static_cast<QWidget*>(watched);
            fitToScreen(window);
            QTimer::singleShot(0, this, [window] {
                if (window && window->isVisible())
                    fitToScreen(window);
            });
        }
        return false;
    }
};

} // namespace

void keepOnScreen(QWidget* window) {
    static const char* const kept = "kavioKeptOnScreen";
    if (window->property(kept).toBool())
        return;
    window->setProperty(kept, true);
    new ScreenKeeper(window);
}

void fitToScreen(QWidget* window) {
    const QScreen* screen = screenOf(window);
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    // The frame around the client area, as far as the window system has told it yet.
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    const int extraWidth = frame.width() - client.width();
    const int extraHeight = frame.height() - client.height();
    QSize size = client.size();
    size = size.boundedTo(QSize(available.width() - extraWidth, available.height() - extraHeight));
    size = size.expandedTo(window->minimumSize());
    if (size != client.size())
        window->resize(size);
    QRect placed = window->frameGeometry();
    if (placed.right() > available.right())
        placed.moveRight(available.right());
    if (placed.bottom() > available.bottom())
        placed.moveBottom(available.bottom());
    if (placed.left() < available.left())
        placed.moveLeft(available.left());
    if (placed.top() < available.top())
        placed.moveTop(available.top());
    if (placed.topLeft() != window->frameGeometry().topLeft())
        window->move(placed.topLeft());
}

void restore(QWidget* window, const QString& key, bool withSize) {
    const QRect stored = settingsFile().value(keyOf(key)).toRect();
    if (stored.isValid()) {
        if (withSize)
            window->resize(stored.size().expandedTo(window->minimumSize()));
        window->move(stored.topLeft());
    } else if (const QScreen* screen = screenOf(window)) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
    fitToScreen(window);
}

void save(const QWidget* window, const QString& key) {
    QSettings stored = settingsFile();
    stored.setValue(keyOf(key), QRect(window->pos(), window->size()));
}

} // namespace kavio::WindowPlacement
