#pragma once

#include "CommandEntry.h"
#include "CommandResult.h"

#include <QList>
#include <QString>
#include <functional>

class QTextStream;

namespace kavio::ctl {

// Serves a list of commands, one unit at a time, and hands each result over as soon as it is
// there (`entry` is the command's position in the list).
//
// Who serves them is decided by the database's lock in the runtime folder: when a control
// center holds it, the commands go to its queue over the control socket (and show in its command
// log); when nobody holds it, kavioctl takes the lock and runs an exchange of its own; when
// another kavioctl holds it, this one waits until that one is done, at most `waitMs`. A control
// center that does not accept the commands within two seconds is reported, and nothing is sent.
//
// A unit answering "CYCLE" is queried again after each such answer, as in the control center,
// but only for `waitMs` after the last command's result: a unit that is still cycling then is
// reported on `err`, and the run counts as failed. Statuses that the database refuses are tried
// again for `waitMs` as well.
class UnitCommandRunner {
public:
    using ResultHandler = std::function<void(int entry, const TCommandResult& result)>;

    UnitCommandRunner(QTextStream& err, int waitMs);

    // False when the commands could not be handed over, or results are missing; the reason went
    // to `err`. Entries without a result were not served.
    bool run(const QList<TCommandEntry>& commands, const ResultHandler& handler);

    // Asks a running control center to read its list again; quietly does nothing when none runs.
    void announceStoreChanged();

    // How many exchanges kavioctl's own engine runs at once in this process (--parallel, or the
    // setting). Commands handed over to a control center follow the control center's setting.
    static void setExchangesAtOnce(int exchanges);

private:
    bool runOwnEngine(const QList<TCommandEntry>& commands, const ResultHandler& handler);
    // `program` names who holds the lock and serves the units, for the messages.
    bool runInControlCenter(const QList<TCommandEntry>& commands, const ResultHandler& handler,
                            const QString& program);

    QTextStream& m_err;
    int m_waitMs;
};

} // namespace kavio::ctl
