#pragma once

#include <QString>

class QObject;

namespace kavio {

enum class MessageKind { Error, Information, Warning, Confirmation };

// A message that needs no answer: a warning of the store, the report of an error that escaped an
// event handler.
struct Notice {
    MessageKind kind;
    QString caption;
    QString text;
};

// Where the messages that need no answer go. The control center shows them in boxes
// (Messages.h), the service writes them to its log, kavioctl to standard error, and a test
// records them. A sink never waits for anyone: whatever the program was doing (starting, polling,
// firing timers) goes on.
class NoticeSink {
public:
    virtual ~NoticeSink() = default;
    // `parent` is the window the message belongs to, when there is one.
    virtual void notify(QObject* parent, const Notice& notice) = 0;
};

// The seam of the code that runs without a window (the store, the exchange, the service). Until a
// program installs a sink, a notice is written to standard error as "caption: text", so that
// nothing is lost.
class Notices {
public:
    static void notify(MessageKind kind, const QString& caption, const QString& text,
                       QObject* parent = nullptr);

    // Replaces the sink; nullptr restores standard error. The caller keeps ownership.
    static void setSink(NoticeSink* sink);
};

} // namespace kavio
