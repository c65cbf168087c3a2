#include "AboutBox.h"

#include "TextFit.h"
#include "WindowPlacement.h"

#include <QApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace kavio {
namespace {

constexpr QSize ClientSize(298, 148);
constexpr int IconSize = 32;

} // namespace

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("About"));

    auto* panel = new QFrame(this);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(2);

    // The program's own icon (the one the desktop shows), for the screen's pixel ratio.
    ProgramIcon = new QLabel(panel);
    ProgramIcon->setFixedSize(IconSize, IconSize);
    ProgramIcon->setPixmap(
        QApplication::windowIcon().pixmap(QSize(IconSize, IconSize), devicePixelRatioF()));

    ProductName = new QLabel(QStringLiteral("Kavio Control Center"), panel);
    ProductName->setTextFormat(Qt::PlainText);
    QFont bold = ProductName->font();
    bold.setBold(true);
    ProductName->setFont(bold);

    Version = new QLabel(QStringLiteral("Version " KAVIOCC_VERSION), panel);
    Version->setTextFormat(Qt::PlainText);

    auto* texts = new QVBoxLayout;
    texts->addWidget(ProductName);
    texts->addWidget(Version);
    texts->addStretch(1);
    auto* inside = new QHBoxLayout(panel);
    inside->setContentsMargins(12, 12, 12, 12);
    inside->setSpacing(16);
    inside->addWidget(ProgramIcon, 0, Qt::AlignTop);
    inside->addLayout(texts, 1);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    fitButtonsToText({OKButton}, QSize(75, 25));
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(panel, 1);
    layout->addWidget(OKButton, 0, Qt::AlignHCenter);
    // The first-start size, larger only when the font needs it.
    setFixedSize(layout->sizeHint().expandedTo(ClientSize));
}

void TAboutBox::showEvent(QShowEvent* event) {
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    WindowPlacement::fitToScreen(this);
    QDialog::showEvent(event);
}

} // namespace kavio
