#include "Database.h"

#include "Exception.h"
#include "Schema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>

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

// Creates an empty file that only its owner may read and write; SQLite gives its journal files
// the same permissions.
void createPrivateFile(const QString& path) {
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        fail(path, QStringLiteral("cannot be created: its folder cannot be made"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        fail(path, QStringLiteral("cannot be created: %1").arg(file.errorString()));
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.close();
}

QStringList readColumns(QSqlDatabase& db, const QString& path, const QString& table) {
    QSqlQuery query(db);
    query.setForwardOnly(true);
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

// Checks every existing table before creating any missing one, so that a wrong file is refused
// without being touched.
void prepareSchema(QSqlDatabase& db, OpenFile& file) {
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

    // Opening for writing asks the system itself, which knows about every kind of permission.
    if (QFile probe(file.path); !probe.open(QIODevice::ReadWrite))
        fail(file.path, QStringLiteral("cannot be written: %1").arg(probe.errorString()));

    for (const QString& name : missing) {
        exec(db, file.path, QLatin1String(schema::find(name)->createStatement),
             "cannot be given its tables");
        file.columns.insert(name, readColumns(db, file.path, name));
    }
    for (const QString& statement : schema::indexStatements())
        exec(db, file.path, statement, "cannot be given its indexes");
}

} // namespace

QString Database::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/KavioCC/KavioCC.db");
}

void Database::open(const QString& path) {
    close();
    if (!QFileInfo::exists(path))
        createPrivateFile(path);

    auto file = std::make_unique<OpenFile>();
    file->path = QFileInfo(path).absoluteFilePath();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), ConnectionName);
        db.setDatabaseName(file->path);
        try {
            if (!db.open())
                fail(file->path, QStringLiteral("cannot be opened: %1").arg(db.lastError().text()));
            prepareSchema(db, *file);
            // Only now that the file has proved to be ours: status writes happen after every
            // exchange, and a write-ahead log keeps them cheap while every committed change
            // still survives a crash of the program.
            QSqlQuery(db).exec(QStringLiteral("PRAGMA journal_mode=WAL"));
            QSqlQuery(db).exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
        } catch (...) {
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(ConnectionName);
            throw;
        }
    }
    current = file.release();
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
