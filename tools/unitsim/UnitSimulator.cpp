#include "UnitSimulator.h"

namespace kavio::sim {

UnitSimulator::UnitSimulator(QObject* parent)
    : QObject(parent) {}

bool UnitSimulator::start(int count, const UnitConfig& config, quint16 basePort,
                          const QHostAddress& address) {
    if (count < 0 || (basePort != 0 && int(basePort) + count - 1 > 65535)) {
        return false;
    }
    QList<SimulatedUnit*> started;
    for (int i = 0; i < count; ++i) {
        auto* unit = new SimulatedUnit(config, this);
        const quint16 port = basePort == 0 ? 0 : quint16(basePort + i);
        if (!unit->listen(port, address)) {
            delete unit;
            qDeleteAll(started);
            return false;
        }
        started.append(unit);
    }
    units_.append(started);
    return true;
}

void UnitSimulator::stop() {
    qDeleteAll(units_);
    units_.clear();
}

} // namespace kavio::sim
