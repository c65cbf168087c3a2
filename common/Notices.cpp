#include "Notices.h"

#include <QDebug>

namespace kavio {
namespace {

class StandardErrorSink : public NoticeSink {
public:
    void notify(QObject*, const Notice& notice) override {
        qWarning().noquote() << notice.caption + QStringLiteral(": ") + notice.text;
    }
};

StandardErrorSink standardError;
NoticeSink* currentSink = &standardError;

} // namespace

void Notices::notify(MessageKind kind, const QString& caption, const QString& text,
                     QObject* parent) {
    currentSink->notify(parent, Notice{kind, caption, text});
}

void Notices::setSink(NoticeSink* sink) {
    currentSink = sink ? sink : &standardError;
}

} // namespace kavio
