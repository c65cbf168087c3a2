#include "Database.h"

#include "Codes.h"
#include "Exception.h"
#include "Notices.h"
#include "ProtectedFiles.h"
#include "Schema.h"
#include "TimerMigration.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavio {
namespace {

const QString ConnectionName = QStringLiteral("KavioCC");

struct OpenFile {
    QString path;
    QHash<QString, QStringList> columns;
};

OpenFile* current = nullptr;

[[noreturn]] void fail(const QString& path, const QString& problem) {
    throw DatabaseError(
        QStringLiteral("The database %1 %2").arg(QDir::toNativeSeparators(path), problem));
}

// Makes the folder (and any missing folder above it) readable by its owner alone. The mode is
// given to mkdir itself, so no folder is ever more open than that, whatever the umask; a chmod
// afterwards only adds back owner bits that a strict umask took away.
void makePrivateFolders(const QString& path, const QString& folder) {
    const QByteArray native = QFile::encodeName(QDir::cleanPath(folder));
    for (qsizetype end = 1; end <= native.size(); ++end) {
        if (end < native.size() && native[end] != '/')
            continue;
        const QByteArray part = native.left(end);
        if (QFileInfo(QFile::decodeName(part)).isDir())
            continue;
        if (::mkdir(part.constData(), 0700) == 0) {
            ::chmod(part.constData(), 0700);
        } else if (errno != EEXIST) {
            fail(path, QStringLiteral("cannot be created: its folder %1 cannot be made: %2")
                           .arg(QFile::decodeName(part), QString::fromLocal8Bit(strerror(errno))));
        }
    }
}

// Creates an empty file that only its owner may read and write, from its first moment on,
// whatever the umask; SQLite gives its journal files the same permissions. This happens before
// any connection to the file exists, so no lock of SQLite's can be lost by closing it.
void createPrivateFile(const QString& path) {
    makePrivateFolders(path, QFileInfo(path).absolutePath());
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        fail(path,
             QStringLiteral("cannot be created: %1").arg(QString::fromLocal8Bit(strerror(errno))));
    ::fchmod(fd, 0600);
    ::close(fd);
}

QStringList readColumns(QSqlDatabase& db, const QString& path, const QString& table) {
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA table_info(\"%1\")").arg(table)))
        fail(path, QStringLiteral("cannot be read: %1").arg(query.lastError().text()));
    QStringList names;
    while (query.next())
        names << query.value(1).toString();
    return names;
}

void exec(QSqlDatabase& db, const QString& path, const QString& statement, const char* doing) {
    QSqlQuery query(db);
    if (!query.exec(statement))
        fail(path, QStringLiteral("%1: %2").arg(QLatin1String(doing), query.lastError().text()));
}

void probeWrite(QSqlDatabase& db, const QString& path) {
    QSqlQuery query(db);
    QString error;
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next()) {
        error = query.lastError().text();
    } else {
        const qint64 version = query.value(0).toLongLong();
        query.finish();
        if (!query.exec(QStringLiteral("BEGIN IMMEDIATE")))
            error = query.lastError().text();
        else if (!query.exec(QStringLiteral("PRAGMA user_version = %1").arg(version)))
            error = query.lastError().text();
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
    }
    if (!error.isEmpty())
        fail(path, QStringLiteral("cannot be written: %1").arg(error));
}

// A file that an older program wrote is migrated once, at its first writable open, in one
// transaction with the version that says so; a file made here starts at the current version.
void bringUpToDate(QSqlDatabase& db, const QString& path) {
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
        fail(path, QStringLiteral("cannot be read: %1").arg(query.lastError().text()));
    const qint64 version = query.value(0).toLongLong();
    query.finish();
    if (version >= schema::Version)
        return;
    auto run = [&db](const QString& statement) {
        QSqlQuery step(db);
        if (!step.exec(statement))
            throw DatabaseError(step.lastError().text());
    };
    try {
        run(QStringLiteral("BEGIN IMMEDIATE"));
        migrateTimers(db);
        run(QStringLiteral("PRAGMA user_version = %1").arg(schema::Version));
        run(QStringLiteral("COMMIT"));
    } catch (const DatabaseError& error) {
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        fail(path, QStringLiteral("cannot be brought up to date: %1").arg(error.message()));
    }
}

// Checks every existing table before creating any missing one, so that a wrong file is refused
// without being touched.
void prepareSchema(QSqlDatabase& db, OpenFile& file, Database::Access access) {
    // The first read fails on a file that is not a database.
    exec(db, file.path, QStringLiteral("SELECT count(*) FROM sqlite_master"),
         "cannot be read (is it a database file?)");

    QStringList missing;
    for (const schema::TableSchema& table : schema::tables()) {
        const QString name = QLatin1String(table.name);
        const QStringList present = readColumns(db, file.path, name);
        if (present.isEmpty()) {
            missing << name;
            continue;
        }
        for (const QString& column : table.requiredColumns) {
            if (!present.contains(column))
                fail(file.path, QStringLiteral("has a table \"%1\" without the column \"%2\"")
                                    .arg(name, column));
        }
        file.columns.insert(name, present);
    }

    // A file whose header and schema are sound may still have damaged pages: find out now,
    // before anything is written into it, rather than at some later read.
    QSqlQuery check(db);
    if (!check.exec(QStringLiteral("PRAGMA quick_check(1)")) || !check.next())
        fail(file.path, QStringLiteral("cannot be checked: %1").arg(check.lastError().text()));
    if (const QString verdict = check.value(0).toString(); verdict != QLatin1String("ok"))
        fail(file.path, QStringLiteral("is damaged: %1").arg(verdict));
    check.finish();

    // Whether the file can be written is asked of SQLite itself, with a change that is rolled
    // back: it knows about every kind of permission, including a folder where it cannot put its
    // journal. The file is never opened beside SQLite, since closing any other descriptor of it
    // would drop SQLite's locks on it.
    if (access == Database::Access::ReadWrite || !missing.isEmpty())
        probeWrite(db, file.path);

    for (const QString& name : missing) {
        exec(db, file.path, QLatin1String(schema::find(name)->createStatement),
             "cannot be given its tables");
        file.columns.insert(name, readColumns(db, file.path, name));
    }
    for (const QString& statement : schema::indexStatements())
        exec(db, file.path, statement, "cannot be given its indexes");
    // The history is added to older files by any program that writes anyway; a reader leaves
    // the file as it is and finds no history there (the first history row adds it).
    if (access == Database::Access::ReadWrite || !missing.isEmpty()) {
        for (const QString& statement : schema::historyStatements())
            exec(db, file.path, statement, "cannot be given its history");
        bringUpToDate(db, file.path);
    }
}

// Records whose unit keys lie outside 1..65535 cannot be told apart from other units once the key
// is held in 16 bits (65537 would become 1); they are left out of every walk. This names them
// for the operator, or gives an empty text when there are none.
QString ignoredKeys(QSqlDatabase& db, const QString& path) {
    constexpr int Shown = 20;
    QStringList parts;
    for (const schema::TableSchema& table : schema::tables()) {
        QStringList keys;
        for (const QString& column : table.unitKeyColumns) {
            QSqlQuery query(db);
            const QString quoted = QLatin1Char('"') + column + QLatin1Char('"');
            if (!query.exec(
                    QStringLiteral("SELECT DISTINCT %1 FROM \"%2\" WHERE NOT (%3) ORDER BY 1")
                        .arg(quoted, QLatin1String(table.name), schema::validKeyCondition(column))))
                fail(path, QStringLiteral("cannot be read: %1").arg(query.lastError().text()));
            while (query.next()) {
                const QString key =
                    query.value(0).isNull() ? QStringLiteral("(none)") : query.value(0).toString();
                if (!keys.contains(key))
                    keys << key;
            }
        }
        if (keys.isEmpty())
            continue;
        QString listed = QStringList(keys.mid(0, Shown)).join(QStringLiteral(", "));
        if (keys.size() > Shown)
            listed += QStringLiteral(" and %1 more").arg(keys.size() - Shown);
        parts << QStringLiteral("%1.DB: %2").arg(QLatin1String(table.name), listed);
    }
    if (parts.isEmpty())
        return {};
    return QStringLiteral("Records with keys outside 1 to %1 are ignored (%2)")
        .arg(MaxUnitIndex)
        .arg(parts.join(QStringLiteral("; ")));
}

} // namespace

QString Database::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/KavioCC/KavioCC.db");
}

void Database::open(const QString& path, Access access) {
    close();
    if (!QFileInfo::exists(path))
        createPrivateFile(path);

    auto file = std::make_unique<OpenFile>();
    file->path = QFileInfo(path).absoluteFilePath();
    ProtectedFiles::add(file->path);
    QString ignored;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), ConnectionName);
        db.setDatabaseName(file->path);
        try {
            if (!db.open())
                fail(file->path, QStringLiteral("cannot be opened: %1").arg(db.lastError().text()));
            // Another program's brief transaction may be waited for at start-up ...
            exec(db, file->path, QStringLiteral("PRAGMA busy_timeout = %1").arg(OpenBusyTimeoutMs),
                 "cannot be opened");
            prepareSchema(db, *file, access);
            // Only now that the file has proved to be ours: status writes happen after every
            // exchange, and a write-ahead log keeps them cheap while every committed change
            // still survives a crash of the program. A reader changes nothing: switching the
            // journal needs a lock that another program's writing would hold up.
            if (access == Access::ReadWrite)
                QSqlQuery(db).exec(QStringLiteral("PRAGMA journal_mode=WAL"));
            QSqlQuery(db).exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
            // ... but later on, a lock held elsewhere must never keep the window waiting long:
            // the caller keeps what could not be written and tries again.
            exec(db, file->path, QStringLiteral("PRAGMA busy_timeout = %1").arg(BusyTimeoutMs),
                 "cannot be opened");
            ignored = ignoredKeys(db, file->path);
        } catch (...) {
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(ConnectionName);
            throw;
        }
    }
    current = file.release();
    if (!ignored.isEmpty())
        Notices::notify(MessageKind::Warning, QCoreApplication::applicationName(), ignored);
}

void Database::close() {
    if (!current)
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(ConnectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(ConnectionName);
    delete current;
    current = nullptr;
}

bool Database::isOpen() {
    return current != nullptr;
}

QString Database::path() {
    return current ? current->path : QString();
}

QSqlDatabase Database::connection() {
    if (!current)
        throw DatabaseError(QStringLiteral("The database KavioCC is not open"));
    return QSqlDatabase::database(ConnectionName, false);
}

const QStringList& Database::columns(const QString& table) {
    if (!current)
        throw DatabaseError(QStringLiteral("The database KavioCC is not open"));
    const auto found = current->columns.constFind(table);
    if (found == current->columns.constEnd())
        throw DatabaseError(QStringLiteral("The database %1 has no table \"%2\"")
                                .arg(QDir::toNativeSeparators(current->path), table));
    return *found;
}

} // namespace kavio
