#pragma once

#include <QString>

namespace kavio::transaction {

// A write transaction on the open database that takes the write lock at once (BEGIN
// IMMEDIATE), so that a writer waiting for another program fails at its start, before it has
// changed anything. Each gives the empty text when it worked, else the reason; each throws
// DatabaseError when no database is open.
QString beginImmediate();
QString commit();
// Ends the transaction, changing nothing; harmless when SQLite rolled it back already.
void rollback();

} // namespace kavio::transaction
