#include "CommandProcessor.h"
#include "Database.h"
#include "Exception.h"
#include "GlobalFunctions.h"
#include "KavioApplication.h"
#include "Messages.h"
#include "Table.h"

#include <QPushButton>

using namespace kavio;

namespace {

// Until the main window takes over, start-up resets every status, asks every unit once for its
// status and shows the command log.
void queryAllUnits(TCmndProc& processor) {
    TTable master(QStringLiteral("Master.DB"));
    ResetAllStatuses(master);
    master.setFilter(QStringLiteral("Group=False"));
    master.setFiltered(true);
    master.open();
    master.first();
    for (int i = master.recordCount(); i > 0; --i) {
        processor.AddToQueue(quint16(master.fieldByName(QStringLiteral("Index")).asInteger()),
                             TaskQuery);
        master.next();
    }
    CloseFiltered(master);
}

} // namespace

int main(int argc, char** argv) {
    KavioApplication app(argc, argv);
    try {
        Database::open();
    } catch (const Exception& error) {
        Messages::show(MessageKind::Error, QCoreApplication::applicationName(),
                       reportText(error.message()));
        return 1;
    }

    TCmndProc processor;
    try {
        queryAllUnits(processor);
    } catch (const Exception& error) {
        reportException(error);
    }
    processor.show();
    QObject::connect(processor.Button2, &QPushButton::clicked, &app, &QApplication::quit);
    return app.exec();
}
