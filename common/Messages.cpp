#include "Messages.h"

#include "WindowPlacement.h"

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
        WindowPlacement::keepOnScreen(&box);
        return static_cast<QMessageBox::StandardButton>(box.exec());
    }
    void notify(QObject* parent, const Notice& n) override {
        auto* box = new QMessageBox(iconOf(n.kind), n.caption, n.text, QMessageBox::Ok,
                                    qobject_cast<QWidget*>(parent));
        box->setTextFormat(Qt::PlainText);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        WindowPlacement::keepOnScreen(box);
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

void MessageSink::notify(QObject* parent, const Notice& notice) {
    show(qobject_cast<QWidget*>(parent),
         ShownMessage{notice.kind, notice.caption, notice.text, QMessageBox::Ok});
}

QMessageBox::StandardButton Messages::show(MessageKind kind, const QString& caption,
                                           const QString& text,
                                           QMessageBox::StandardButtons buttons, QWidget* parent,
                                           QMessageBox::StandardButton defaultButton) {
    return currentSink->show(parent, ShownMessage{kind, caption, text, buttons, defaultButton});
}

void Messages::beep(Beep kind) {
    currentSink->beep(kind);
}

void Messages::useBoxes() {
    setSink(nullptr);
}

void Messages::setSink(MessageSink* sink) {
    currentSink = sink ? sink : &realSink;
    Notices::setSink(currentSink);
}

} // namespace kavio
