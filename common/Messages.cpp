#include "Messages.h"

#include <QApplication>

namespace kavio {
namespace {

class WidgetMessageSink : public MessageSink {
public:
    QMessageBox::StandardButton show(QWidget* parent, const ShownMessage& m) override {
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        switch (m.kind) {
        case MessageKind::Error:
            icon = QMessageBox::Critical;
            break;
        case MessageKind::Information:
            icon = QMessageBox::Information;
            break;
        case MessageKind::Warning:
            icon = QMessageBox::Warning;
            break;
        case MessageKind::Confirmation:
            icon = QMessageBox::Question;
            break;
        }
        QMessageBox box(icon, m.caption, m.text, m.buttons, parent);
        return static_cast<QMessageBox::StandardButton>(box.exec());
    }
    void beep(Beep) override { QApplication::beep(); }
};

WidgetMessageSink realSink;
MessageSink* currentSink = &realSink;

} // namespace

QMessageBox::StandardButton Messages::show(MessageKind kind, const QString& caption,
                                           const QString& text,
                                           QMessageBox::StandardButtons buttons, QWidget* parent) {
    return currentSink->show(parent, ShownMessage{kind, caption, text, buttons});
}

void Messages::beep(Beep kind) {
    currentSink->beep(kind);
}

void Messages::setSink(MessageSink* sink) {
    currentSink = sink ? sink : &realSink;
}

} // namespace kavio
