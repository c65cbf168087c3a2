#include "Icons.h"

#include "Codes.h"

#include <QFont>
#include <QHash>
#include <QPainter>
#include <QPainterPath>

namespace kavio {
namespace {

const QColor Yellow(0xff, 0xd8, 0x1a);
const QColor Grey(0xa8, 0xa8, 0xa8);
const QColor Red(0xe0, 0x20, 0x20);
const QColor Blue(0x18, 0x40, 0xe0);
const QColor Rim(0x30, 0x30, 0x30);

const QRectF Face(0.5, 0.5, 15, 15);

// The device pixel ratio the picture being drawn is for: drawn in 16 x 16 logical units on that
// many device pixels, so that it stays sharp on a scaled screen.
qreal drawingRatio = 1.0;

// A black square with an antialiased disc on it: the corners stay black, the picture opaque.
QPixmap blank() {
    QPixmap pixmap(QSize(Icons::Size, Icons::Size) * drawingRatio);
    pixmap.setDevicePixelRatio(drawingRatio);
    pixmap.fill(Qt::black);
    return pixmap;
}

void disc(QPainter& p, const QColor& colour) {
    p.setPen(QPen(Rim, 1));
    p.setBrush(colour);
    p.drawEllipse(Face);
}

// The holes of a power outlet: two upright slots and the round earth hole below them.
void outletHoles(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawRect(QRectF(4.5, 4, 2, 5));
    p.drawRect(QRectF(9.5, 4, 2, 5));
    p.drawEllipse(QPointF(8, 11.5), 1.6, 1.6);
}

QPixmap outlet(const QColor& colour) {
    QPixmap pixmap = blank();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    disc(p, colour);
    outletHoles(p);
    return pixmap;
}

QPixmap cycling() {
    QPixmap pixmap = blank();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    disc(p, Yellow);
    QPainterPath lowerRight;
    lowerRight.addPolygon(QPolygonF({QPointF(16, 0), QPointF(16, 16), QPointF(0, 16)}));
    p.save();
    p.setClipPath(lowerRight);
    disc(p, Grey);
    p.restore();
    p.setPen(QPen(Rim, 1));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(Face);
    outletHoles(p);
    return pixmap;
}

QPixmap lettered(QChar letter, const QColor& colour) {
    QPixmap pixmap = blank();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    disc(p, Grey);
    QFont font;
    font.setPixelSize(12);
    font.setBold(true);
    p.setFont(font);
    p.setPen(colour);
    p.drawText(QRectF(0, 0, 16, 16), Qt::AlignCenter, QString(letter));
    return pixmap;
}

QPixmap clock() {
    QPixmap pixmap = blank();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    disc(p, Grey);
    p.setPen(QPen(Rim, 1));
    for (const QLineF& tick : {QLineF(8, 1.5, 8, 3), QLineF(14.5, 8, 13, 8), QLineF(8, 14.5, 8, 13),
                               QLineF(1.5, 8, 3, 8)})
        p.drawLine(tick);
    p.setPen(QPen(Yellow, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(8, 8), QPointF(8, 3.5));
    p.drawLine(QPointF(8, 8), QPointF(11.5, 8));
    p.setPen(Qt::NoPen);
    p.setBrush(Rim);
    p.drawEllipse(QPointF(8, 8), 1, 1);
    return pixmap;
}

QPixmap draw(const QString& key) {
    if (key == QLatin1String("1on"))
        return outlet(Yellow);
    if (key == QLatin1String("1off"))
        return outlet(Grey);
    if (key == QLatin1String("1cycle"))
        return cycling();
    if (key == QLatin1String("1unknown"))
        return lettered(QLatin1Char('?'), Yellow);
    if (key == QLatin1String("1error"))
        return outlet(Red);
    if (key == QLatin1String("1busy"))
        return lettered(QLatin1Char('B'), Red);
    if (key == QLatin1String("groupico"))
        return lettered(QLatin1Char('G'), Blue);
    if (key == QLatin1String("timer"))
        return clock();
    return {};
}

} // namespace

QPixmap Icons::byName(const QString& name, qreal ratio) {
    static QHash<QString, QPixmap> drawn;
    ratio = qBound(1.0, qRound(ratio * 4) / 4.0, 8.0);
    const QString key = name.toLower();
    const QString drawnKey = key + QLatin1Char('@') + QString::number(ratio);
    auto found = drawn.constFind(drawnKey);
    if (found == drawn.constEnd()) {
        drawingRatio = ratio;
        found = drawn.insert(drawnKey, draw(key));
    }
    return *found;
}

QPixmap Icons::forStatus(int status, qreal ratio) {
    static const char* const names[] = {"1ON", "1OFF", "1CYCLE", "1Unknown", "1Error", "1BUSY"};
    if (status < StatusOn || status > StatusBusy)
        status = StatusUnknown;
    return byName(QLatin1String(names[status]), ratio);
}

QPixmap Icons::group(qreal ratio) {
    return byName(QStringLiteral("GroupICO"), ratio);
}

QPixmap Icons::timer(qreal ratio) {
    return byName(QStringLiteral("Timer"), ratio);
}

} // namespace kavio
