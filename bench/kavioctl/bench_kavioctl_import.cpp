// Figures of kavioctl's import of a file at the size limit: 64 MB of short rows, checked with
// --dry-run by the real program. Time to exit and the program's peak resident memory.
#include "BenchSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

using namespace kavio::bench;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    qputenv("XDG_RUNTIME_DIR", dir.filePath(QStringLiteral("run")).toUtf8());

    // Rows of a unit each, every one sound, with names that are all different: each has to be
    // kept until the whole file is checked.
    constexpr qint64 Limit = 64 * 1024 * 1024;
    const QString file = dir.filePath(QStringLiteral("short.csv"));
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return 1;
    QByteArray chunk = "name,address,port,password,groups\r\n";
    qint64 size = 0;
    qint64 rows = 0;
    for (;;) {
        const QByteArray row = QByteArray::number(rows, 36) + ",10." +
                               QByteArray::number((rows >> 16) & 255) + '.' +
                               QByteArray::number((rows >> 8) & 255) + '.' +
                               QByteArray::number(rows & 255) + ",80,pw,\r\n";
        if (size + chunk.size() + row.size() > Limit)
            break;
        chunk += row;
        ++rows;
        if (chunk.size() > (1 << 20)) {
            size += out.write(chunk);
            chunk.clear();
        }
    }
    size += out.write(chunk);
    out.close();

    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral(KAVIOCTL_PATH),
                  {QStringLiteral("--database"), dir.filePath(QStringLiteral("new.db")),
                   QStringLiteral("--create"), QStringLiteral("import"),
                   QStringLiteral("--dry-run"), file});
    if (!process.waitForFinished(120000))
        return 1;
    const double seconds = millisecondsOf(timer) / 1000;
    // The only child so far: its peak is the children's peak.
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const QByteArray err = process.readAllStandardError();
    std::printf("%lld bytes, %lld rows; exit %d; %s\n", size, rows, process.exitCode(),
                err.left(300).constData());
    bool allMet = report("kavioctl import --dry-run, 64 MB of short rows", seconds, "s", 15);
    allMet &= report("  its peak resident memory", double(usage.ru_maxrss) / 1024, "MB", 512);
    return allMet ? 0 : 1;
}
