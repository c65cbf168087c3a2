#include "CommandProcessor.h"

#include "ConnectFailed.h"
#include "Database.h"
#include "Exception.h"
#include "FileDialogs.h"
#include "HistoryQuery.h"
#include "HistoryWriter.h"
#include "LogFormat.h"
#include "SettingsFile.h"
#include "TextFit.h"
#include "WindowPlacement.h"

#include <QApplication>
#include <QClipboard>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>

namespace kavio {
namespace {

// The buttons' first-start size; a larger font makes them larger (fitButtonsToText).
constexpr int ButtonWidth = 75;
constexpr int ButtonHeight = 25;
// The column of buttons beside the log is this much wider than they are; the log takes the rest
// of the window.
constexpr int ButtonColumnMargin = 12;
const QString GeometryKey = QStringLiteral("CommandLog/Geometry");

} // namespace

TCmndProc::TCmndProc(TCommandEngine& engine, HistoryWriter& history, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , Memo1(new QPlainTextEdit(this))
    , CopyButton(new QPushButton(tr("Copy"), this))
    , SaveButton(new QPushButton(tr("Save..."), this))
    , Button1(new QPushButton(tr("Clear"), this))
    , Button2(new QPushButton(tr("Close"), this))
    , m_engine(&engine)
    , m_history(&history)
    , m_logFlushTimer(new QTimer(this)) {
    setWindowTitle(QStringLiteral("CmndProc"));
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    fitButtonsToCaptions({CopyButton, SaveButton, Button1, Button2}, {ButtonWidth, ButtonHeight});
    const QSize button = CopyButton->size();
    setMinimumSize(button.width() + ButtonColumnMargin + 100,
                   8 * button.height() + button.height() / 2);
    // The first-start size, wider by as much as larger captions made the buttons.
    resize(272 + button.width() - ButtonWidth, std::max(304, minimumHeight()));
    restoreGeometry(settingsFile().value(GeometryKey).toByteArray());
    WindowPlacement::keepOnScreen(this);

    connect(CopyButton, &QPushButton::clicked, this, &TCmndProc::CopyClick);
    connect(SaveButton, &QPushButton::clicked, this, &TCmndProc::SaveClick);
    connect(Button1, &QPushButton::clicked, this, &TCmndProc::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TCmndProc::Button2Click);
    m_logFlushTimer->setInterval(LogFlushDelayMs);
    connect(m_logFlushTimer, &QTimer::timeout, this, &TCmndProc::flushLog);

    connect(m_engine, &TCommandEngine::loggedLine, this, &TCmndProc::log);
    connect(m_engine, &TCommandEngine::exchangeFinished, this,
            [](const TCommandResult& result) { ShowConnectFailed(result); });
    connect(m_engine, &TCommandEngine::storeFailed, this,
            [](const QString& message) { reportException(DatabaseError(message)); });
    connect(m_engine, &TCommandEngine::recordRefused, this,
            [](const QString& message) { reportException(Exception(message)); });

    showEarlierExchanges();
    // Rows that cannot be written are counted; the operator hears of it once per failing spell,
    // from the event loop, and the queue goes on.
    connect(m_history, &HistoryWriter::rowsLost, this, [this](const QString& message) {
        log({QDateTime::currentMSecsSinceEpoch(), {}, {}, 0, message});
        QTimer::singleShot(0, this, [message] { reportException(DatabaseError(message)); });
    });
}

TCmndProc::~TCmndProc() = default;

// The history kept before this start, oldest first; a file without it shows nothing.
void TCmndProc::showEarlierExchanges() {
    if (!Database::isOpen())
        return;
    try {
        const HistoryPage page = ReadHistory({}, HistoryLines);
        QStringList lines;
        for (auto row = page.Rows.crbegin(); row != page.Rows.crend(); ++row)
            lines << FormatHistoryLine(*row);
        if (!lines.isEmpty())
            Memo1->appendPlainText(lines.join(QLatin1Char('\n')));
    } catch (const Exception& error) {
        Memo1->appendPlainText(error.message());
    }
}

void TCmndProc::resizeEvent(QResizeEvent*) {
    const QSize button = CopyButton->size();
    const int memoWidth = width() - button.width() - ButtonColumnMargin;
    Memo1->setGeometry(0, 0, memoWidth, height());
    const int x = memoWidth + ButtonColumnMargin / 2;
    Button2->move(x, height() - 2 * button.height());
    Button1->move(x, height() - 4 * button.height());
    SaveButton->move(x, height() - 6 * button.height());
    CopyButton->move(x, height() - 8 * button.height());
}

// Log lines are gathered and handed to the memo together shortly after: laying out text is the
// costliest step of an exchange, and this keeps it out of the exchange's own path.
void TCmndProc::log(const TLogLine& line) {
    m_pendingLog << FormatLogLine(line);
    if (!m_logFlushTimer->isActive())
        m_logFlushTimer->start();
}

void TCmndProc::flushLog() {
    m_logFlushTimer->stop();
    if (m_pendingLog.isEmpty())
        return;
    Memo1->appendPlainText(m_pendingLog.join(QLatin1Char('\n')));
    m_pendingLog.clear();
}

QStringList TCmndProc::logLines() {
    flushLog();
    const QString text = Memo1->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

bool TCmndProc::saveLog(const QString& path, QString* error) {
    const QStringList lines = logLines();
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        for (const QString& line : lines)
            file.write(line.toUtf8() + '\n');
        if (file.commit())
            return true;
    }
    if (error)
        *error = QStringLiteral("The log cannot be saved to %1: %2").arg(path, file.errorString());
    return false;
}

void TCmndProc::CopyClick() {
    flushLog();
    const QString selected = Memo1->textCursor().selectedText();
    // A selection separates its lines with U+2029.
    QApplication::clipboard()->setText(
        selected.isEmpty() ? Memo1->toPlainText() : QString(selected).replace(QChar(0x2029), '\n'));
}

void TCmndProc::SaveClick() {
    auto* dialog =
        SafeFileDialog::forSaving(this, tr("Save the command log"),
                                  tr("Text files (*.txt);;All files (*)"), QStringLiteral("txt"));
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& path) {
        QString error;
        if (!saveLog(path, &error))
            reportException(Exception(error));
    });
    dialog->open();
}

void TCmndProc::showEvent(QShowEvent* event) {
    flushLog();
    // The newest lines, from their start: the time and the unit come first in each.
    QTextCursor last = Memo1->textCursor();
    last.movePosition(QTextCursor::End);
    last.movePosition(QTextCursor::StartOfBlock);
    Memo1->setTextCursor(last);
    QWidget::showEvent(event);
    Memo1->horizontalScrollBar()->setValue(Memo1->horizontalScrollBar()->minimum());
}

void TCmndProc::hideEvent(QHideEvent* event) {
    rememberGeometry();
    QWidget::hideEvent(event);
}

void TCmndProc::rememberGeometry() {
    settingsFile().setValue(GeometryKey, saveGeometry());
}

void TCmndProc::Button1Click() {
    m_pendingLog.clear();
    Memo1->clear();
}

void TCmndProc::Button2Click() {
    hide();
}

} // namespace kavio
