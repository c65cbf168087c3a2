#include "TextFit.h"

#include <QAbstractButton>
#include <QStyle>

namespace kavio {

void fitButtonsToText(const QList<QAbstractButton*>& buttons, QSize least) {
    QSize size = least;
    for (const QAbstractButton* button : buttons)
        size = size.expandedTo(button->sizeHint());
    for (QAbstractButton* button : buttons)
        button->setFixedSize(size);
}

void fitButtonsToCaptions(const QList<QAbstractButton*>& buttons, QSize least) {
    QSize size = least;
    for (const QAbstractButton* button : buttons) {
        const QStyle* style = button->style();
        const int frame = style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
        const int margin = style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
        const QFontMetrics metrics = button->fontMetrics();
        const QString caption = QString(button->text()).remove(QLatin1Char('&'));
        size = size.expandedTo({metrics.horizontalAdvance(caption) + 2 * (margin + frame) + 4,
                                metrics.height() + 2 * frame + 6});
    }
    for (QAbstractButton* button : buttons)
        button->setFixedSize(size);
}

} // namespace kavio
