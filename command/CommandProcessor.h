#pragma once

#include "CommandEngine.h"

#include <QStringList>
#include <QWidget>

class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace kavio {

class HistoryPruner;
class HistoryWriter;

// The command processor window: the log of the exchange with the units, with "Copy", "Save",
// "Clear" and "Close". The exchange itself is its engine's; the window shows the engine's log
// (each line with its time and unit), keeps every finished exchange in the database's history,
// opens a notice for every unit it cannot reach, and tells the operator of a failing store.
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

    explicit TCmndProc(QWidget* parent = nullptr);
    ~TCmndProc() override;

    TCommandEngine& engine() { return *Engine; }
    HistoryWriter& history() { return *Writer; }

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

    TCommandEngine* Engine;
    HistoryWriter* Writer;
    HistoryPruner* Pruner;
    QTimer* logFlushTimer;
    QStringList pendingLog;
};

} // namespace kavio
