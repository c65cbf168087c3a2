#include "DialogSupport.h"

#include "Messages.h"

#include <QFont>
#include <QLineEdit>

namespace kavio {

void showInputFault(QWidget* parent, const QString& text) {
    Messages::beep(Beep::Exclamation);
    Messages::show(MessageKind::Error, QStringLiteral("Error"), text, QMessageBox::Ok, parent);
}

void setStoredText(QLineEdit* edit, const QString& text, int limit) {
    edit->setMaxLength(qMax(limit, int(text.size())));
    edit->setText(text);
}

void useDialogFont(QWidget* dialog) {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    dialog->setFont(font);
}

} // namespace kavio
