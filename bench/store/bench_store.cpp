// Figures of the device store on a full table of 65,535 units.
#include "BenchSupport.h"
#include "Database.h"
#include "GlobalFunctions.h"
#include "Table.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QTemporaryDir>

using namespace kavio;
using namespace kavio::bench;

namespace {

void fillMaster(int units) {
    QSqlDatabase db = Database::connection();
    db.transaction();
    QSqlQuery query(db);
    query.prepare(QStringLiteral(
        R"(INSERT INTO "Master" ("Name","IPAddress","Port","Password") VALUES (?,?,?,?))"));
    for (int i = 1; i <= units; ++i) {
        query.addBindValue(QStringLiteral("Unit %1").arg(i));
        query.addBindValue(
            QStringLiteral("10.%1.%2.%3").arg(i >> 16).arg((i >> 8) & 255).arg(i & 255));
        query.addBindValue(4000 + i % 1000);
        query.addBindValue(QStringLiteral("password"));
        query.exec();
    }
    db.commit();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    Database::open(dir.filePath(QStringLiteral("KavioCC.db")));
    constexpr int Units = 65535;
    fillMaster(Units);
    bool allMet = true;

    TTable master(QStringLiteral("Master.DB"));
    std::vector<double> resets;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer timer;
        timer.start();
        ResetAllStatuses(master);
        resets.push_back(millisecondsOf(timer));
    }
    allMet &=
        report("status reset of 65,535 records (max of 5)", maximum(resets) / 1000, "s", 0.15);

    std::vector<double> walks;
    qint64 checksum = 0;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer timer;
        timer.start();
        master.open();
        master.first();
        for (int i = master.recordCount(); i > 0; --i) {
            checksum += master.fieldByName(QStringLiteral("Index")).asInteger();
            checksum += master.fieldByName(QStringLiteral("Status")).asInteger();
            checksum += master.fieldByName(QStringLiteral("Name")).asString().size();
            master.next();
        }
        master.close();
        walks.push_back(millisecondsOf(timer));
    }
    allMet &= report("walk of 65,535 records, three fields each (max of 5)", maximum(walks) / 1000,
                     "s", 0.2);

    std::vector<double> writes;
    for (int run = 0; run < 1000; ++run) {
        const auto index = quint16(1 + QRandomGenerator::global()->bounded(Units));
        QElapsedTimer timer;
        timer.start();
        SetStatus(master, index, quint8(run % 6));
        writes.push_back(millisecondsOf(timer));
    }
    allMet &= report("SetStatus on a 65,535-unit table (median of 1000)", median(writes), "ms", 2);
    std::printf("(checksum %lld)\n", static_cast<long long>(checksum));

    Database::close();
    return allMet ? 0 : 1;
}
