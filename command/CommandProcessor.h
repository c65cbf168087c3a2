#pragma once

#include "CommandEngine.h"

#include <QStringList>
#include <QWidget>

class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace kavio {

class HistoryWriter;

// The command processor window: the log of the exchange with the units, with "Copy", "Save",
// "Clear" and "Close". The exchange itself is the engine's that it is given, with the history
// that keeps every finished exchange; the window shows the engine's log (each line with its time
// and unit), opens a notice for every unit it cannot reach, and tells the operator of a failing
// store or of history rows that could not be written.
//
// At start the log shows the last exchanges kept in the history, so that it survives a restart.
// The window can be resized; its size and place are remembered in the settings file.
class TCmndProc : public QWidget {
    Q_OBJECT

public:
    // Log lines reach the window at most this much later.
    static constexpr int LogFlushDelayMs = 30;
    // Exchanges from the history shown at start.
    static constexpr int HistoryLines = 500;

    TCmndProc(TCommandEngine& engine, HistoryWriter& history, QWidget* parent = nullptr);
    ~TCmndProc() override;

    TCommandEngine& engine() { return *m_engine; }
    HistoryWriter& history() { return *m_history; }

    // Every line logged so far, in order, as shown.
    QStringList logLines();
    // Writes the whole log to a file; false (with `error` set) when it cannot.
    bool saveLog(const QString& path, QString* error = nullptr);

    QPlainTextEdit* Memo1;
    QPushButton* CopyButton;
    QPushButton* SaveButton;
    QPushButton* Button1;
    QPushButton* Button2;

public slots:
    void Button1Click();
    void Button2Click();
    // Copies the selected lines, or the whole log when nothing is selected.
    void CopyClick();
    // Asks for a file (without blocking the window) and saves the log there.
    void SaveClick();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void log(const TLogLine& line);
    void flushLog();
    void showEarlierExchanges();
    void rememberGeometry();

    TCommandEngine* m_engine;
    HistoryWriter* m_history;
    QTimer* m_logFlushTimer;
    QStringList m_pendingLog;
};

} // namespace kavio
