#pragma once

#include "CommandEngine.h"

#include <QStringList>
#include <QWidget>

class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace kavio {

// The command processor window: the log of the exchange with the units, with "Clear" and
// "Close". The exchange itself is its engine's; the window shows the engine's log, opens a
// notice for every unit it cannot reach, and tells the operator of a failing store.
class TCmndProc : public QWidget {
    Q_OBJECT

public:
    // Log lines reach the window at most this much later.
    static constexpr int LogFlushDelayMs = 30;

    explicit TCmndProc(QWidget* parent = nullptr);
    ~TCmndProc() override;

    TCommandEngine& engine() { return *Engine; }

    // Every line logged so far, in order.
    QStringList logLines();

    QPlainTextEdit* Memo1;
    QPushButton* Button1;
    QPushButton* Button2;

public slots:
    void Button1Click();
    void Button2Click();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void log(const QString& line);
    void flushLog();

    TCommandEngine* Engine;
    QTimer* logFlushTimer;
    QStringList pendingLog;
};

} // namespace kavio
