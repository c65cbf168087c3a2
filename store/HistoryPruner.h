#pragma once

#include <QHash>
#include <QObject>

class QTimer;

namespace kavio {

// How much history is kept: rows younger than KeepDays, and no more than KeepRows of them,
// whichever is less. Read from the settings file, section [History], keys KeepDays and KeepRows.
struct HistoryRetention {
    int KeepDays = 400;
    qint64 KeepRows = 1000000;

    static HistoryRetention fromSettings();
};

// Deletes history beyond the retention, oldest first, a small batch at a time from its own timer,
// so that neither the queue nor the window ever waits for more than one batch. A database locked
// elsewhere is simply tried again at the next round. Beyond KeepRows, each unit's newest
// KeptPerUnit rows stay however many rows other units have.
class HistoryPruner : public QObject {
    Q_OBJECT

public:
    static constexpr int BatchRows = 500;
    static constexpr int KeptPerUnit = 100;
    // Rows looked at for the row limit: a window at a time, a few windows per batch at most.
    static constexpr int WindowRows = 2000;
    static constexpr int WindowsPerBatch = 8;
    // Units whose kept rows are looked up in one batch, at most.
    static constexpr int LookupsPerBatch = 128;
    // Between batches while there is work, and between rounds when there is none.
    static constexpr int BatchIntervalMs = 50;
    static constexpr int RoundIntervalMs = 10 * 60 * 1000;

    explicit HistoryPruner(HistoryRetention retention, QObject* parent = nullptr);

    // Starts the rounds; the first one comes soon.
    void start();
    // Deletes at most one batch; gives how many rows went, -1 when the database refused. 0 with
    // moreToScanLeft() when it only counted the rows, or looked at rows that are all kept, and
    // more follows.
    int pruneBatch();
    bool moreToScanLeft() const { return moreToScan; }

private:
    void tick();

    HistoryRetention retention;
    QTimer* timer;
    // Rows beyond KeepRows still to delete in this round; -1 when not counted yet.
    qint64 excessRows = -1;
    // The row limit's walk of this round: rows up to this key were looked at.
    qint64 scannedUpTo = 0;
    // Each unit's time from which its rows are kept, as read this round.
    QHash<qint64, qint64> keptFrom;
    bool moreToScan = false;
};

} // namespace kavio
