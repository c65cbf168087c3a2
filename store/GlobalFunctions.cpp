#include "GlobalFunctions.h"

#include "Table.h"

namespace kavio {

void FilterByIndex(TTable& table, quint16 index) {
    table.setFilter(QStringLiteral("Index=%1").arg(index));
    table.setFiltered(true);
}

// Setting a filter reloads an open table and open() starts at the first record, so each of
// these ends on the first matching record.
void OpenByIndex(TTable& table, quint16 index) {
    FilterByIndex(table, index);
    table.open();
}

void OpenByGroupIndex(TTable& table, quint16 groupIndex) {
    table.setFilter(QStringLiteral("GroupIndex=%1").arg(groupIndex));
    table.setFiltered(true);
    table.open();
}

void OpenByTimerIndex(TTable& table, quint32 timerIndex) {
    table.setFilter(QStringLiteral("TimerIndex=%1").arg(timerIndex));
    table.setFiltered(true);
    table.open();
}

// Closed first: clearing the filter of an open table would read the whole table back in, twice,
// only to drop it.
void CloseFiltered(TTable& table) {
    table.close();
    table.setFilter(QString());
    table.setFiltered(false);
}

void SetStatus(TTable& table, quint16 index, quint8 status) {
    OpenByIndex(table, index);
    SetCurrentStatus(table, status);
    table.close();
}

void SetCurrentStatus(TTable& table, quint8 status) {
    if (table.eof())
        return;
    table.edit();
    table.fieldByName(QStringLiteral("Status")).setInteger(status);
    table.post();
}

void ResetAllStatuses(TTable& masterTable) {
    masterTable.setFieldInAllRecords(QStringLiteral("Status"), qint64(StatusUnknown));
}

quint8 ParseStatus(const QByteArray& reply) {
    if (reply == "ON")
        return StatusOn;
    if (reply == "OFF")
        return StatusOff;
    if (reply == "CYCLE")
        return StatusCycle;
    if (reply == "BUSY")
        return StatusBusy;
    return StatusUnknown;
}

void TaskName(quint8 task, QString& name) {
    switch (task) {
    case TaskPowerOn:
        name = QStringLiteral("Power On");
        break;
    case TaskPowerOff:
        name = QStringLiteral("Power Off");
        break;
    case TaskReboot:
        name = QStringLiteral("Reboot");
        break;
    case TaskPulse:
        name = QStringLiteral("Pulse");
        break;
    case TaskCycle:
        name = QStringLiteral("Cycle");
        break;
    default:
        break;
    }
}

bool NameInUse(TTable& table, const QString& name) {
    CloseFiltered(table);
    table.open();
    const int count = table.recordCount();
    bool found = false;
    for (int i = 0; i < count && !found; ++i) {
        found = table.fieldByName(QStringLiteral("Name")).asString() == name;
        table.next();
    }
    table.close();
    return found;
}

} // namespace kavio
