#pragma once

#include "CommandEntry.h"
#include "Table.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QWidget>
#include <functional>

class QPlainTextEdit;
class QPushButton;
class QTcpSocket;
class QTimer;

namespace kavio {

// The command processor: one queue of commands, served strictly one at a time over one short TCP
// connection each, with its log as a window.
//
// Any number of producers (buttons, polling, timers, and the processor itself after a "CYCLE"
// reply) only ever append to the queue with AddToQueue. Only the processor removes an entry,
// and only the head, once its exchange is over (NextEntry). Everything runs on the event loop:
// no call here waits, so the windows stay responsive while an exchange is under way.
//
// A status that cannot be written (another program holds the database locked) is kept and
// written again every StoreRetryMs until it goes in; the operator hears of such a failure once
// (the default error report) until the store works again, and the log says "  FAILED" instead
// of "  SUCCESS" for that exchange.
class TCmndProc : public QWidget {
    Q_OBJECT

public:
    // A connect that has not succeeded by then is given up like a refused one.
    static constexpr int ConnectTimeoutMs = 5000;
    // The reply ends when the unit closes the connection or this long after the write.
    static constexpr int ReplyLimitMs = 500;
    // The pause between the end of one exchange and the next entry.
    static constexpr int PauseMs = 100;
    // How often the idle processor looks for work.
    static constexpr int WatchIntervalMs = 100;
    // The longest status word a unit answers ("CYCLE").
    static constexpr int LongestReplyWord = 5;
    // A reply that grows beyond the longest status word can only mean "unknown": the exchange
    // ends as soon as it does, and no more than this is ever kept.
    static constexpr int MaxReplyBytes = LongestReplyWord + 1;
    // How often statuses that could not be written are tried again.
    static constexpr int StoreRetryMs = 500;
    // Log lines reach the window at most this much later.
    static constexpr int LogFlushDelayMs = 30;

    // Makes the socket of each exchange; a test hands in one that fails on demand.
    using SocketFactory = std::function<QTcpSocket*(QObject* parent)>;

    explicit TCmndProc(QWidget* parent = nullptr);
    ~TCmndProc() override;

    // nullptr (the default): a plain QTcpSocket.
    void setSocketFactory(SocketFactory factory) { socketFactory = std::move(factory); }

    void AddToQueue(quint16 index, quint8 task);
    void StartQueue();
    void StartSession();
    char CommandLetter() const;
    bool SendCommand(char letter);
    void NextEntry();

    bool busy() const { return Busy; }
    const QList<TCommandEntry>& queue() const { return Queue; }
    // Every line logged so far, in order.
    QStringList logLines();
    // The reply of the current or last exchange, as kept.
    const QByteArray& lastReply() const { return reply; }
    // Statuses read from units but not written yet (unit index -> status code).
    const QMap<quint16, quint8>& unstoredStatuses() const { return pendingStatus; }

    QPlainTextEdit* Memo1;
    QPushButton* Button1;
    QPushButton* Button2;
    QTimer* Timer1;
    QTimer* Timer2;
    QTimer* ResponseTimer;
    QTimer* StoreRetryTimer;

signals:
    // After every exchange, after a failed connection, and when statuses kept while the
    // database was locked have been written.
    void statusChanged();

public slots:
    void Button1Click();
    void Button2Click();
    void Timer1Timer();
    void Timer2Timer();
    void ResponseTimerTimer();
    void TCPConnected();
    void TCPDisconnected();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    enum class Phase { Idle, Connecting, Reading, Pausing };

    void log(const QString& line);
    void flushLog();
    bool takeHeadUnit();
    void connectFailed();
    void readReply();
    void takeReplyBytes();
    bool storeStatus(quint16 index, quint8 code);
    QString writeUnstoredStatuses();
    void retryStore();
    void storeFailed(const QString& message);
    void finishReading(bool failed);
    bool commandUnsent() const;
    void writeFailed();
    void announceStatusChange();
    void socketError(QAbstractSocket::SocketError error);
    void dropSocket();

    TTable MasterTable{QStringLiteral("Master.DB")};
    QList<TCommandEntry> Queue;
    bool Busy = false;
    Phase phase = Phase::Idle;
    QPointer<QTcpSocket> TCP;
    QTimer* ConnectTimer;
    QTimer* logFlushTimer;
    QStringList pendingLog;
    QString UnitPassword;
    QString unitName;
    QByteArray reply;
    SocketFactory socketFactory;
    QMap<quint16, quint8> pendingStatus;
    bool storeFailing = false;
};

} // namespace kavio
