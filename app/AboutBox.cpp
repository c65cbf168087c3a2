#include "AboutBox.h"

#include "Icons.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace kavio {

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("About"));
    setFixedSize(298, 148);

    auto* panel = new QFrame(this);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(2);
    panel->setGeometry(8, 8, 282, 97);

    ProgramIcon = new QLabel(panel);
    ProgramIcon->setGeometry(12, 12, 32, 32);
    ProgramIcon->setPixmap(Icons::byName(QStringLiteral("1ON")).scaled(32, 32));

    ProductName = new QLabel(QStringLiteral("Kavio Control Center"), panel);
    ProductName->setTextFormat(Qt::PlainText);
    QFont bold = ProductName->font();
    bold.setBold(true);
    ProductName->setFont(bold);
    ProductName->setGeometry(60, 16, 210, 20);

    Version = new QLabel(QStringLiteral("Version " KAVIOCC_VERSION), panel);
    Version->setTextFormat(Qt::PlainText);
    Version->setGeometry(60, 44, 210, 20);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setGeometry(111, 113, 75, 25);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
}

void TAboutBox::showEvent(QShowEvent* event) {
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    QDialog::showEvent(event);
}

} // namespace kavio
