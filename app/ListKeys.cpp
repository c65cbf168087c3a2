#include "ListKeys.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>

namespace kavio {

ListKeys::ListKeys(QAbstractItemView& listView, QMenu& menu, std::function<void()> openProperties,
                   std::function<void()> deleteLine)
    : QObject(&listView)
    , list(listView)
    , popup(menu)
    , properties(std::move(openProperties))
    , remove(std::move(deleteLine)) {
    list.installEventFilter(this);
}

bool ListKeys::hasCurrentLine() const {
    const QModelIndex current = list.currentIndex();
    return current.isValid() && list.selectionModel()->isSelected(current);
}

void ListKeys::openMenu() {
    if (!hasCurrentLine())
        return;
    const QRect line = list.visualRect(list.currentIndex());
    list.scrollTo(list.currentIndex());
    popup.popup(list.viewport()->mapToGlobal(line.bottomLeft()));
}

bool ListKeys::keyPressed(const QKeyEvent& key) {
    const Qt::KeyboardModifiers held = key.modifiers() & (Qt::ShiftModifier | Qt::ControlModifier |
                                                          Qt::AltModifier | Qt::MetaModifier);
    if (key.key() == Qt::Key_Menu || (key.key() == Qt::Key_F10 && held == Qt::ShiftModifier)) {
        openMenu();
        return true;
    }
    if (held == Qt::NoModifier && (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter)) {
        if (hasCurrentLine())
            properties();
        return true;
    }
    if (held == Qt::NoModifier && key.key() == Qt::Key_Delete) {
        if (hasCurrentLine())
            remove();
        return true;
    }
    const bool searching = sinceSearchKey.isValid() &&
                           sinceSearchKey.elapsed() < QApplication::keyboardInputInterval();
    if (key.key() == Qt::Key_Space && (held & ~Qt::ShiftModifier) == Qt::NoModifier) {
        if (!searching)
            return false; // the toolkit ticks the line
        list.keyboardSearch(QStringLiteral(" "));
        sinceSearchKey.restart();
        return true;
    }
    const QString text = key.text();
    if ((held & ~Qt::ShiftModifier) == Qt::NoModifier && !text.isEmpty() && text.at(0).isPrint())
        sinceSearchKey.restart(); // the view searches for it
    else
        sinceSearchKey.invalidate();
    return false;
}

bool ListKeys::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &list && event->type() == QEvent::KeyPress)
        return keyPressed(*static_cast<QKeyEvent*>(event));
    return QObject::eventFilter(watched, event);
}

int keyWithoutShift(const QKeyEvent& key) {
    const int code = key.key();
    if (!(key.modifiers() & Qt::ShiftModifier) || (code >= Qt::Key_0 && code <= Qt::Key_9))
        return code;
    // X11 reports the key's place: the digit row's keys are 10..19 there, whatever the layout.
    const quint32 place = key.nativeScanCode();
    if (place >= 10 && place <= 19)
        return place == 19 ? Qt::Key_0 : Qt::Key_1 + int(place - 10);
    // Elsewhere, the symbols of the digit row of a US keyboard.
    static const QString shiftedDigits = QStringLiteral("!@#$%^&*()");
    const qsizetype at = code < 0x80 ? shiftedDigits.indexOf(QChar(code)) : -1;
    if (at >= 0)
        return at == 9 ? Qt::Key_0 : Qt::Key_1 + int(at);
    return code;
}

} // namespace kavio
