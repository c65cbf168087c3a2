#pragma once

#include <QtGlobal>

namespace kavio {

// Task codes: what a queued command asks a unit to do. Timers carry 0..4 only.
enum TaskCode : quint8 {
    TaskPowerOn = 0,
    TaskPowerOff = 1,
    TaskReboot = 2,
    TaskPulse = 3,
    TaskCycle = 4,
    TaskQuery = 5,
};

// Status codes: the last answer of a unit, as stored in Master."Status".
enum StatusCode : quint8 {
    StatusOn = 0,
    StatusOff = 1,
    StatusCycle = 2,
    StatusUnknown = 3,
    StatusError = 4,
    StatusBusy = 5,
};

// Every consumer holds a unit's key as 16 bits, so keys live in 1..65535.
constexpr qint64 MaxUnitIndex = 65535;

} // namespace kavio
