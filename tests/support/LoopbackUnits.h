#pragma once

#include "UnitConfig.h"

#include <QHostAddress>
#include <QTcpServer>

namespace kavio::test {

// A simulated unit's configuration that differs from the default only in its behaviour.
inline sim::UnitConfig behaving(sim::Behaviour behaviour) {
    sim::UnitConfig config;
    config.behaviour = behaviour;
    return config;
}

// A loopback port where nothing listens right now (the kernel's pick, released again).
inline quint16 unusedPort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

} // namespace kavio::test
