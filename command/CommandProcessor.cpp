#include "CommandProcessor.h"

#include "ConnectFailed.h"
#include "Exception.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

namespace kavio {
namespace {

constexpr int MemoWidth = 185;
constexpr int ButtonWidth = 75;
constexpr int ButtonHeight = 25;

} // namespace

TCmndProc::TCmndProc(QWidget* parent)
    : QWidget(parent, Qt::Window)
    , Memo1(new QPlainTextEdit(this))
    , Button1(new QPushButton(tr("Clear"), this))
    , Button2(new QPushButton(tr("Close"), this))
    , Engine(new TCommandEngine(this))
    , logFlushTimer(new QTimer(this)) {
    setWindowTitle(QStringLiteral("CmndProc"));
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Button1->resize(ButtonWidth, ButtonHeight);
    Button2->resize(ButtonWidth, ButtonHeight);
    resize(272, 304);

    connect(Button1, &QPushButton::clicked, this, &TCmndProc::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TCmndProc::Button2Click);
    logFlushTimer->setInterval(LogFlushDelayMs);
    connect(logFlushTimer, &QTimer::timeout, this, &TCmndProc::flushLog);

    connect(Engine, &TCommandEngine::logged, this, &TCmndProc::log);
    connect(Engine, &TCommandEngine::exchangeFinished, this,
            [](const TCommandResult& result) { ShowConnectFailed(result); });
    connect(Engine, &TCommandEngine::storeFailed, this,
            [](const QString& message) { reportException(DatabaseError(message)); });
    connect(Engine, &TCommandEngine::recordRefused, this,
            [](const QString& message) { reportException(Exception(message)); });
}

TCmndProc::~TCmndProc() = default;

void TCmndProc::resizeEvent(QResizeEvent*) {
    Memo1->setGeometry(0, 0, MemoWidth, height());
    const int x = MemoWidth + (width() - MemoWidth - ButtonWidth) / 2;
    Button2->move(x, height() - 2 * ButtonHeight);
    Button1->move(x, height() - 4 * ButtonHeight);
}

// Log lines are gathered and handed to the memo together shortly after: laying out text is the
// costliest step of an exchange, and this keeps it out of the exchange's own path.
void TCmndProc::log(const QString& line) {
    pendingLog << line;
    if (!logFlushTimer->isActive())
        logFlushTimer->start();
}

void TCmndProc::flushLog() {
    logFlushTimer->stop();
    if (pendingLog.isEmpty())
        return;
    Memo1->appendPlainText(pendingLog.join(QLatin1Char('\n')));
    pendingLog.clear();
}

QStringList TCmndProc::logLines() {
    flushLog();
    const QString text = Memo1->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

void TCmndProc::showEvent(QShowEvent* event) {
    flushLog();
    QWidget::showEvent(event);
}

void TCmndProc::Button1Click() {
    pendingLog.clear();
    Memo1->clear();
}

void TCmndProc::Button2Click() {
    hide();
}

} // namespace kavio
