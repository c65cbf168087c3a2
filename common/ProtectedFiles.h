#pragma once

#include <QString>

namespace kavio::ProtectedFiles {

// The files that only SQLite may open: the database and the journals SQLite keeps beside it
// ("-wal", "-shm", "-journal"). Closing any other descriptor of such a file would drop the
// POSIX locks SQLite holds on it, and with them the other programs' view of who is using it.
// Whoever opens a database names it here; the file dialogs neither list nor write these files.

// Adds `databasePath` and its journals to the protected files (for the rest of the process).
void add(const QString& databasePath);

// Whether `path` names a protected file, by its absolute path or by the identity of the file
// it names (a hard or symbolic link to the database counts as the database). Only metadata is
// read, never the file's content.
bool contains(const QString& path);

} // namespace kavio::ProtectedFiles
