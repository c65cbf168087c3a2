#include "ConnectFailed.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace kavio {
namespace {

constexpr int LabelLeft = 52;
constexpr int LabelTop = 26;
constexpr int WidthBeyondLabel = 100;
constexpr int ClientHeight = 89;
constexpr int ButtonMargin = 8;
constexpr int MaxNameCharacters = 4096;

} // namespace

TConFail::TConFail(const QString& unitName)
    : QWidget(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowStaysOnTopHint)
    , Label1(new QLabel(this))
    , Button1(new QPushButton(tr("Close"), this)) {
    setAttribute(Qt::WA_DeleteOnClose);
    // A notice left open must not keep the program running once its main window is closed.
    setAttribute(Qt::WA_QuitOnClose, false);
    // No caption: the window title stays empty.

    QFont bold = Label1->font();
    bold.setBold(true);
    bold.setPixelSize(13);
    Label1->setFont(bold);
    Label1->setAlignment(Qt::AlignCenter);
    // The name comes from the database: shown as it is, never as markup, and cut short with an
    // ellipsis where it would make the notice wider than the screen it opens on.
    Label1->setTextFormat(Qt::PlainText);
    const int widest = screen()->availableGeometry().width() - WidthBeyondLabel;
    const QString prefix = QStringLiteral("Could Not Connect to: ");
    const QFontMetrics metrics(bold);
    // No screen is wide enough for more characters than this, so the measuring stays cheap
    // whatever the length of the name.
    const QString name = unitName.left(MaxNameCharacters);
    Label1->setText(prefix + metrics.elidedText(name, Qt::ElideRight,
                                                widest - metrics.horizontalAdvance(prefix)));
    Label1->adjustSize();
    Label1->move(LabelLeft, LabelTop);

    Button1->resize(75, 25);
    connect(Button1, &QPushButton::clicked, this, &TConFail::Button1Click);

    setFixedSize(Label1->width() + WidthBeyondLabel, ClientHeight);
}

void TConFail::Button1Click() {
    close();
}

void TConFail::resizeEvent(QResizeEvent*) {
    Button1->move(width() - Button1->width() - ButtonMargin,
                  height() - Button1->height() - ButtonMargin);
}

TConFail* ShowConnectFailed(const QString& unitName) {
    auto* notice = new TConFail(unitName);
    notice->show();
    return notice;
}

} // namespace kavio
