#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>

class QWidget;

namespace kavio {

enum class MessageKind { Error, Information, Warning, Confirmation };
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

// The seam through which the whole system shows message boxes and sounds beeps. In the program
// the default sink shows real boxes; a test installs a recording sink that answers with a
// chosen button and never blocks.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual QMessageBox::StandardButton show(QWidget* parent, const ShownMessage& message) = 0;
    // A message that needs no answer. The real sink shows it without waiting for it to be
    // closed; any other sink treats it like show().
    virtual void notify(QWidget* parent, const ShownMessage& message) { show(parent, message); }
    virtual void beep(Beep kind) = 0;
};

class Messages {
public:
    // Shows a message and returns the button pressed. Buttons default to OK. A question whose
    // Yes would lose data names No as its default, so that Enter keeps the data.
    static QMessageBox::StandardButton
    show(MessageKind kind, const QString& caption, const QString& text,
         QMessageBox::StandardButtons buttons = QMessageBox::Ok, QWidget* parent = nullptr,
         QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
    // Shows a report with an OK button and returns at once: whatever the program was doing
    // (starting, polling, firing timers) goes on while the box waits for the operator.
    static void notify(MessageKind kind, const QString& caption, const QString& text,
                       QWidget* parent = nullptr);
    static void beep(Beep kind);

    // Replaces the sink; nullptr restores the real one. The caller keeps ownership.
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
