#pragma once

#include <QSqlDatabase>
#include <QString>

namespace kavio {

// The one database file, KavioCC.db, holding the tables Master, Group and Timer.
//
// open() makes sure the file and its three tables exist (creating only what is missing, with the
// file readable and writable by its owner alone) and refuses, with an error naming the file, a
// file that is not a database, cannot be written, or has a table without the expected columns.
// Nothing is ever overwritten or recreated.
//
// A file that older programs wrote is brought up to date once, at its first writable open: its
// timers keep the events they had under the rules of this program (TimerMigration.h), and its
// PRAGMA user_version then says so.
//
// Whether the file can be written is asked of SQLite (a change rolled back), never by opening the
// file beside it. A write that finds the file locked by another program waits at most
// BusyTimeoutMs and then fails, so that no caller freezes the window for long. Records whose unit
// keys lie outside 1..65535 are left out of every walk; open() names them once as a warning
// through the notices (Notices.h): a box in the control center, a log line in the service.
class Database {
public:
    // How long a statement waits for another program's lock before it fails.
    static constexpr int BusyTimeoutMs = 100;
    // At open, a little longer: a brief transaction elsewhere does not keep the program from
    // starting.
    static constexpr int OpenBusyTimeoutMs = 3000;

    // <generic data location>/KavioCC/KavioCC.db, e.g. ~/.local/share/KavioCC/KavioCC.db.
    static QString defaultPath();

    // What the opener means to do. A reader asks for no write probe and changes nothing, so
    // that another program's write transaction does not keep it from reading; a file that lacks
    // tables is still prepared (and so probed) as for a writer. A program that waits for its
    // turn to write by itself opens as a reader too.
    enum class Access { ReadWrite, Read };

    // Opens (and prepares) the file; throws DatabaseError. Closes a previously opened file first.
    static void open(const QString& path = defaultPath(), Access access = Access::ReadWrite);
    static void close();
    static bool isOpen();
    static QString path();

    // The open connection; throws DatabaseError when no file is open.
    static QSqlDatabase connection();

    // Column names of a table of the open file, in table order (cached).
    static const QStringList& columns(const QString& table);
};

} // namespace kavio
