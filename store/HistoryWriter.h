#pragma once

#include "HistoryRow.h"

#include <QList>
#include <QObject>

class QTimer;

namespace kavio {

// Writes finished exchanges into the History table of the open database, gathered: a row waits
// up to FlushDelayMs and then goes in with the others in one transaction, so that the queue never
// waits for the disk. (The row of an exchange that wrote a status goes in with that status
// instead, through insertNow.)
//
// A database locked by another program keeps the rows waiting (they are tried again every
// RetryMs, as the statuses are), so nothing is lost. Any other refusal (a full disk, a damaged
// file) drops the rows of that transaction: they are counted, and rowsLost tells of the first
// loss once until writing works again. No more than MaxWaitingRows wait; older ones beyond that
// are counted as lost too.
class HistoryWriter : public QObject {
    Q_OBJECT

public:
    static constexpr int FlushDelayMs = 200;
    static constexpr int RetryMs = 500;
    static constexpr int MaxWaitingRows = 100000;

    explicit HistoryWriter(QObject* parent = nullptr);
    // Writes what still waits, once.
    ~HistoryWriter() override;

    void add(const HistoryRow& row);
    // Inserts one row at once, inside whatever transaction the caller has begun (the one that
    // writes the exchange's status); throws Exception when the database refuses it.
    static void insertNow(const HistoryRow& row);
    // Writes the waiting rows now; true when none wait any more.
    bool flush();

    int waiting() const { return int(rows.size()); }
    // Rows that could not be written since the start.
    qint64 lost() const { return lostRows; }

signals:
    // The first row of a failing spell was lost; `message` names the store's error.
    void rowsLost(const QString& message);
    // Rows went into the table.
    void written(int count);

private:
    void lose(qsizetype count, const QString& error);

    QList<HistoryRow> rows;
    QTimer* flushTimer;
    qint64 lostRows = 0;
    bool failing = false;
};

} // namespace kavio
