#pragma once

#include "Database.h"
#include "Table.h"

#include <QTemporaryDir>

namespace kavio::test {

// A database file of its own in a fresh temporary folder, open for the lifetime of the object.
class TempDatabase {
public:
    TempDatabase()
        : path(dir.filePath(QStringLiteral("KavioCC/KavioCC.db"))) {
        Database::open(path);
    }
    ~TempDatabase() { Database::close(); }
    TempDatabase(const TempDatabase&) = delete;
    TempDatabase& operator=(const TempDatabase&) = delete;

    // Appends a unit the way the unit dialog does and returns its key.
    static quint16 addUnit(const QString& name,
                           const QString& address = QStringLiteral("127.0.0.1"), int port = 4001,
                           const QString& password = QStringLiteral("secret")) {
        TTable master(QStringLiteral("Master.DB"));
        master.open();
        master.append();
        master.fieldByName(QStringLiteral("Name")).setString(name);
        master.fieldByName(QStringLiteral("IPAddress")).setString(address);
        master.fieldByName(QStringLiteral("Port")).setString(QString::number(port));
        master.fieldByName(QStringLiteral("Password")).setString(password);
        master.post();
        const auto index = quint16(master.fieldByName(QStringLiteral("Index")).asInteger());
        master.close();
        return index;
    }

    // Appends a group the way the group dialog does and returns its key.
    static quint16 addGroup(const QString& name) {
        TTable master(QStringLiteral("Master.DB"));
        master.open();
        master.append();
        master.fieldByName(QStringLiteral("Name")).setString(name);
        master.fieldByName(QStringLiteral("Group")).setBoolean(true);
        master.post();
        const auto index = quint16(master.fieldByName(QStringLiteral("Index")).asInteger());
        master.close();
        return index;
    }

    static qint64 status(quint16 index) {
        TTable master(QStringLiteral("Master.DB"));
        master.open();
        if (!master.findKey(index))
            return -1;
        return master.fieldByName(QStringLiteral("Status")).asInteger();
    }

    QTemporaryDir dir;
    QString path;
};

} // namespace kavio::test
