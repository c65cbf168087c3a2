#pragma once

#include "Notices.h"

#include <QMessageBox>
#include <QString>
#include <QStringList>

class QWidget;

namespace kavio {

enum class Beep { Exclamation, Default };

// One shown message, as a test sees it.
struct ShownMessage {
    MessageKind kind;
    QString caption;
    QString text;
    QMessageBox::StandardButtons buttons;
    // The button that Enter presses; NoButton leaves the choice to the toolkit.
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

// The seam through which the windows show message boxes and sound beeps, and through which the
// notices of the code beneath them (Notices.h) come up as boxes too. The real sink shows real
// boxes; a test installs a recording sink that answers with a chosen button and never blocks.
class MessageSink : public NoticeSink {
public:
    virtual QMessageBox::StandardButton show(QWidget* parent, const ShownMessage& message) = 0;
    // A message that needs no answer. The real sink shows it without waiting for it to be
    // closed; any other sink treats it like show() with an OK button.
    void notify(QObject* parent, const Notice& notice) override;
    virtual void beep(Beep kind) = 0;
};

// The boxes and beeps of the windows. Messages::notify is the notice of Notices.h: once the
// window program has called useBoxes(), a box with an OK button that does not wait for the
// operator.
class Messages : public Notices {
public:
    // Shows a message and returns the button pressed. Buttons default to OK. A question whose
    // Yes would lose data names No as its default, so that Enter keeps the data.
    static QMessageBox::StandardButton
    show(MessageKind kind, const QString& caption, const QString& text,
         QMessageBox::StandardButtons buttons = QMessageBox::Ok, QWidget* parent = nullptr,
         QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
    static void beep(Beep kind);

    // Shows the notices in real boxes as well: the window program does so at start.
    static void useBoxes();
    // Replaces the sink of the boxes and of the notices; nullptr restores the real boxes. The
    // caller keeps ownership.
    static void setSink(MessageSink* sink);
};

// A sink for tests: records every message and beep and answers with `answer`.
class RecordingMessageSink : public MessageSink {
public:
    RecordingMessageSink() { Messages::setSink(this); }
    ~RecordingMessageSink() override { Messages::setSink(nullptr); }
    RecordingMessageSink(const RecordingMessageSink&) = delete;
    RecordingMessageSink& operator=(const RecordingMessageSink&) = delete;

    QMessageBox::StandardButton show(QWidget*, const ShownMessage& message) override {
        shown.append(message);
        return answer;
    }
    void beep(Beep kind) override { beeps.append(kind); }

    QList<ShownMessage> shown;
    QList<Beep> beeps;
    QMessageBox::StandardButton answer = QMessageBox::Ok;
};

} // namespace kavio
