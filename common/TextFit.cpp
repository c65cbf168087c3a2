#include "TextFit.h"

#include <QAbstractButton>

namespace kavio {

void fitButtonsToText(const QList<QAbstractButton*>& buttons, QSize least) {
    QSize size = least;
    for (const QAbstractButton* button : buttons)
        size = size.expandedTo(button->sizeHint());
    for (QAbstractButton* button : buttons)
        button->setFixedSize(size);
}

} // namespace kavio
