#include "Messages.h"

#include <QApplication>
#include <QTimer>

namespace kavio {
namespace {

class WidgetMessageSink : public MessageSink {
public:
    QMessageBox::StandardButton show(QWidget* parent, const ShownMessage& m) override {
        QMessageBox box(iconOf(m.kind), m.caption, m.text, m.buttons, parent);
        // Names and messages may come from the database: never read as markup.
        box.setTextFormat(Qt::PlainText);
        if (m.defaultButton != QMessageBox::NoButton)
            box.setDefaultButton(m.defaultButton);
        return static_cast<QMessageBox::StandardButton>(box.exec());
    }
    void notify(QWidget* parent, const ShownMessage& m) override {
        auto* box = new QMessageBox(iconOf(m.kind), m.caption, m.text, m.buttons, parent);
        box->setTextFormat(Qt::PlainText);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        // Shown from the event loop, so that a report made while the program starts comes up
        // above the main window rather than behind it.
        QTimer::singleShot(0, box, [box] {
            box->show();
            box->raise();
        });
    }
    void beep(Beep) override { QApplication::beep(); }

private:
    static QMessageBox::Icon iconOf(MessageKind kind) {
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        switch (kind) {
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
        return icon;
    }
};

WidgetMessageSink realSink;
MessageSink* currentSink = &realSink;

} // namespace

QMessageBox::StandardButton Messages::show(MessageKind kind, const QString& caption,
                                           const QString& text,
                                           QMessageBox::StandardButtons buttons, QWidget* parent,
                                           QMessageBox::StandardButton defaultButton) {
    return currentSink->show(parent, ShownMessage{kind, caption, text, buttons, defaultButton});
}

void Messages::notify(MessageKind kind, const QString& caption, const QString& text,
                      QWidget* parent) {
    currentSink->notify(parent, ShownMessage{kind, caption, text, QMessageBox::Ok});
}

void Messages::beep(Beep kind) {
    currentSink->beep(kind);
}

void Messages::setSink(MessageSink* sink) {
    currentSink = sink ? sink : &realSink;
}

} // namespace kavio
