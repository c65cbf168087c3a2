// Figures of kavioctl's store commands, each run as the real program: the list of a full table
// of 65,535 units, and the import of 10,000 rows.
#include "BenchSupport.h"
#include "Database.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>

using namespace kavio;
using namespace kavio::bench;

namespace {

void fillMaster(int units) {
    QSqlDatabase db = Database::connection();
    db.transaction();
    QSqlQuery query(db);
    query.prepare(QStringLiteral(R"(INSERT INTO "Master" ("Name","IPAddress","Port","Password",)"
                                 R"("Status") VALUES (?,?,?,?,?))"));
    for (int i = 1; i <= units; ++i) {
        query.addBindValue(QStringLiteral("Unit %1").arg(i));
        query.addBindValue(
            QStringLiteral("10.%1.%2.%3").arg(i >> 16).arg((i >> 8) & 255).arg(i & 255));
        query.addBindValue(4000 + i % 1000);
        query.addBindValue(QStringLiteral("password"));
        query.addBindValue(i % 6);
        query.exec();
    }
    // Every unit in one of 100 groups.
    QSqlQuery group(db);
    group.exec(QStringLiteral(
        R"(UPDATE "Master" SET "Group" = 1, "IPAddress" = NULL WHERE "Index" <= 100)"));
    group.exec(QStringLiteral(
        R"(INSERT INTO "Group" ("GroupIndex", "Index") SELECT "Index" % 100 + 1, "Index" FROM "Master" WHERE "Index" > 100)"));
    db.commit();
}

// Milliseconds of one run of kavioctl to its end; a negative figure when it failed.
double timeRun(const QStringList& arguments, qint64* outputBytes = nullptr) {
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral(KAVIOCTL_PATH), arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        std::fprintf(stderr, "%s\n", process.readAllStandardError().constData());
        return -1;
    }
    const double elapsed = millisecondsOf(timer);
    if (outputBytes)
        *outputBytes = process.readAllStandardOutput().size();
    return elapsed;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    qputenv("XDG_RUNTIME_DIR", dir.filePath(QStringLiteral("run")).toUtf8());
    const QString full = dir.filePath(QStringLiteral("full.db"));
    Database::open(full);
    fillMaster(65535);
    Database::close();
    bool allMet = true;

    for (const bool json : {false, true}) {
        std::vector<double> runs;
        qint64 bytes = 0;
        for (int run = 0; run < 5; ++run) {
            QStringList arguments = {QStringLiteral("list"), QStringLiteral("--database"), full};
            if (json)
                arguments << QStringLiteral("--json");
            runs.push_back(timeRun(arguments, &bytes));
        }
        if (bytes == 0 || *std::min_element(runs.begin(), runs.end()) < 0)
            return 1;
        allMet &= report(json ? "kavioctl list --json, 65,535 records (median of 5)"
                              : "kavioctl list, 65,535 records (median of 5)",
                         median(runs) / 1000, "s", 0.5);
    }

    QByteArray csv = "name,address,port,password,groups\r\n";
    for (int i = 0; i < 100; ++i)
        csv += QStringLiteral("Group %1,,,,\r\n").arg(i).toUtf8();
    for (int i = 0; i < 10000 - 100; ++i)
        csv += QStringLiteral("Unit %1,10.0.%2.%3,%4,secret,Group %5;Group %6\r\n")
                   .arg(i)
                   .arg(i / 256)
                   .arg(i % 256)
                   .arg(4000 + i % 1000)
                   .arg(i % 100)
                   .arg((i + 1) % 100)
                   .toUtf8();
    const QString file = dir.filePath(QStringLiteral("rows.csv"));
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(csv) != csv.size())
        return 1;
    out.close();
    std::vector<double> runs;
    for (int run = 0; run < 3; ++run) {
        const QString db = dir.filePath(QStringLiteral("import%1.db").arg(run));
        runs.push_back(timeRun({QStringLiteral("import"), file, QStringLiteral("--database"), db,
                                QStringLiteral("--create")}));
        if (runs.back() < 0)
            return 1;
    }
    allMet &= report("kavioctl import, 10,000 rows into a new file (max of 3)",
                     maximum(runs) / 1000, "s", 2.0);
    return allMet ? 0 : 1;
}
