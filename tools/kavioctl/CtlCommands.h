#pragma once

#include <QString>
#include <QStringList>

class QTextStream;

namespace kavio::ctl {

// Exit statuses a script can rely on.
enum ExitStatus : int {
    ExitOk = 0,
    // A target failed (no connection, no valid reply), is unknown, or the store refused.
    ExitFailed = 1,
    // `query` only: every target answered, and at least one is not ON.
    ExitNotOn = 2,
    // The command line itself is wrong.
    ExitUsage = 64,
};

// The commands that only read or write the store. Each expects the database open, writes its
// result to `out` and its messages to `err`, and returns the exit status.

// Units and groups with their address, port, groups, last status and timer mark; with a group
// name, that group's members only. Never a password.
int runList(const QString& group, bool json, QTextStream& out, QTextStream& err);
// The unit and group list as CSV; an empty `outputFile` writes to `out`.
int runExport(const QString& outputFile, bool withPasswords, QTextStream& out, QTextStream& err);
// Adds the units and groups of a CSV file; nothing at all is changed when any row is refused.
// Waits up to `waitMs` for another program's writing to end.
int runImport(const QString& file, bool dryRun, int waitMs, QTextStream& out, QTextStream& err);

// The exchanges kept in the history, newest `limit` (all when empty), oldest first: one line of
// tab-separated columns each, or JSON, or CSV. Exit 1 on a bad filter (an unknown unit, group or
// source, a time that is none).
struct HistoryOptions {
    QString unit, group, since, until, source, limit;
    bool json = false;
    bool csv = false;
};
int runHistory(const HistoryOptions& options, QTextStream& out, QTextStream& err);

// The commands that reach units, one at a time: through the control center's queue when one is
// running on the same database, through an exchange of kavioctl's own otherwise.

// `task` is a task code (on, off, reboot, pulse, cycle, query); each target is a unit's or a
// group's name; `all` adds every unit. `waitMs` bounds each wait: for another kavioctl, for
// statuses the database refuses, and for a unit that keeps answering CYCLE.
int runPower(quint8 task, const QStringList& targets, bool all, bool json, int waitMs,
             QTextStream& out, QTextStream& err);
// A query for every unit.
int runPoll(bool json, int waitMs, QTextStream& out, QTextStream& err);

// Tells a control center running on the same database that units or groups were added or
// changed, so that its list shows them; does nothing when none is running.
void announceStoreChanged();

} // namespace kavio::ctl
