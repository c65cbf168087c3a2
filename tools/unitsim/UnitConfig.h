#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace kavio::sim {

// How a simulated unit reacts once a complete command has arrived.
enum class Behaviour {
    // Like a real unit: remembers whether it is on (starts off). See SwitchMachine.h for the rules.
    Switch,
    On,   // "ON" to every command
    Off,  // "OFF" to every command
    Busy, // "BUSY" to every command
    // "CYCLE" to the first `cycles` commands the unit answers (over all connections), "ON" after.
    Cycle,
    // Reads the command and never answers nor closes; only the client ends the connection.
    Silent,
    // The Switch reply, written `delayMs` after the command arrived, then closes.
    Slow,
    // Closes without a word as soon as the command has arrived.
    CloseAtOnce,
    // Streams 'X' bytes as fast as the client drains them until the client closes or a flood
    // limit (floodByteLimit, floodTimeLimitMs) is reached.
    Flood,
    // Answers the fixed bytes `reply` whatever the command, then closes.
    Garbage,
};

struct UnitConfig {
    Behaviour behaviour = Behaviour::Switch;
    int cycles = 3;      // Cycle and Switch: how many "CYCLE" answers a cycle takes
    int delayMs = 0;     // Slow
    QByteArray reply;    // Garbage
    QByteArray preamble; // written right after accepting, before any command (empty: none)
    // When set, a command carrying any other password is not answered: the unit closes at once.
    std::optional<QByteArray> password;
    // Bounds that keep a flooding unit from running away when the client never closes.
    qint64 floodByteLimit = qint64(1) << 30;
    int floodTimeLimitMs = 30'000;
};

// Lower-case names as used on the kaviosim command line: switch, on, off, busy, cycle, silent,
// slow, close, flood, garbage.
QString behaviourName(Behaviour behaviour);
std::optional<Behaviour> behaviourFromName(const QString& name);
QStringList behaviourNames();

} // namespace kavio::sim
