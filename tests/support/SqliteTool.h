#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>

namespace kavio::test {

// The sqlite3 command-line tool run on a database file: another program using the same file,
// as an operator or an installation step would. Gives what the tool printed, without the final
// line end; an empty text and `ok` false when the tool failed.
inline QString runSqliteTool(const QString& path, const QString& sql, bool* ok = nullptr) {
    QProcess tool;
    tool.start(QStringLiteral("sqlite3"),
               {QStringLiteral("-cmd"), QStringLiteral(".timeout 5000"), path});
    bool started = tool.waitForStarted();
    if (started) {
        tool.write(sql.toUtf8());
        tool.closeWriteChannel();
        started = tool.waitForFinished(30000) && tool.exitStatus() == QProcess::NormalExit &&
                  tool.exitCode() == 0;
    }
    if (ok)
        *ok = started;
    return started ? QString::fromUtf8(tool.readAllStandardOutput()).trimmed() : QString();
}

// A write transaction held open by the sqlite3 tool in a process of its own until release().
class SqliteWriteLock {
public:
    explicit SqliteWriteLock(const QString& path) {
        tool.start(QStringLiteral("sqlite3"), {path});
        if (!tool.waitForStarted())
            return;
        tool.write("BEGIN IMMEDIATE;\nSELECT 'locked';\n");
        QByteArray out;
        while (!out.contains("locked") && tool.waitForReadyRead(10000))
            out += tool.readAllStandardOutput();
        held = out.contains("locked");
    }
    ~SqliteWriteLock() { release(); }
    SqliteWriteLock(const SqliteWriteLock&) = delete;
    SqliteWriteLock& operator=(const SqliteWriteLock&) = delete;

    bool isHeld() const { return held; }

    // Ends the transaction (writing nothing) and the tool.
    void release() {
        if (tool.state() == QProcess::NotRunning)
            return;
        tool.write("ROLLBACK;\n");
        tool.closeWriteChannel();
        tool.waitForFinished(10000);
        held = false;
    }

private:
    QProcess tool;
    bool held = false;
};

} // namespace kavio::test
