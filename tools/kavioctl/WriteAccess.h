#pragma once

class QTextStream;

namespace kavio::ctl {

// Opens a write transaction (BEGIN IMMEDIATE) on the open database. While another program holds
// one, waits for it up to `waitMs`, saying once on `err` what it waits for. False, with the
// reason on `err`, when the database cannot be written or was still taken when the time ran out.
bool beginWriting(int waitMs, QTextStream& err);

// Ends the transaction that beginWriting opened, changing nothing.
void abandonWriting();

} // namespace kavio::ctl
