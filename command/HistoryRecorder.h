#pragma once

#include "CommandResult.h"
#include "HistoryRow.h"

#include <optional>

namespace kavio {

class HistoryWriter;
class TCommandEngine;

// The History row of a finished exchange; none for an entry that was dropped before any unit was
// read (it names no unit, a group, or an unknown task).
std::optional<HistoryRow> HistoryRowOf(const TCommandResult& result);

// How an exchange ended, as the history words it: refused (no connection, or a record that
// cannot be sent), timed out (the connect or reply limit ran out with no status word), write
// failed, not stored (the database refused the status; it is written later), still CYCLE (asked
// again for as long as the engine asks), answered (a status word) or unknown reply.
QString HistoryOutcomeOf(const TCommandResult& result);

// Every exchange the engine finishes is kept: one that wrote a status in the status's own
// transaction, any other through the writer; none while the engine forwards its entries to
// another program, which keeps their history itself.
void RecordHistory(TCommandEngine& engine, HistoryWriter& writer);

} // namespace kavio
