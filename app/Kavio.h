#pragma once

#include <QString>
#include <QtGlobal>

namespace kavio {

// The record attached to each line of the device list: a snapshot of one unit or group. Index,
// Name, Group and Checked are taken when the line is built, the other fields the first time the
// line's record is asked for (KavioListModel::record). Painting reads Group, Status and Timer
// afresh from the store; command dispatch refreshes Status before it acts; the actions use
// Index, Group and IPAddress.
struct TKavio {
    quint16 Index = 0;
    QString Name;
    QString IPAddress; // units only
    qint32 Port = 0;   // units only
    bool Group = false;
    bool Timer = false;
    quint8 Status = 3; // units only: the status code when the line was built
    bool Checked = false;
};

} // namespace kavio
