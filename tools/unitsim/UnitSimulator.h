#pragma once

#include "SimulatedUnit.h"
#include "UnitConfig.h"

#include <QHostAddress>
#include <QList>
#include <QObject>

namespace kavio::sim {

// A fleet of simulated units sharing one configuration, on consecutive or free ports.
class UnitSimulator : public QObject {
    Q_OBJECT
public:
    explicit UnitSimulator(QObject* parent = nullptr);

    // Starts `count` more units with `config`: basePort 0 puts each on a free port, otherwise
    // they take basePort, basePort + 1, ... Returns false and starts none of them if any port
    // cannot be bound (or the range runs past 65535); units started earlier stay.
    bool start(int count, const UnitConfig& config, quint16 basePort = 0,
               const QHostAddress& address = QHostAddress::LocalHost);
    // Closes and deletes every unit.
    void stop();

    QList<SimulatedUnit*> units() const { return units_; }

private:
    QList<SimulatedUnit*> units_;
};

} // namespace kavio::sim
