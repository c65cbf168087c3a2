#pragma once

#include "UnitConfig.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

struct KaviosimOptions {
    int count = 1;
    quint16 basePort = 5001; // 0: every unit on a free port
    QHostAddress address = QHostAddress::LocalHost;
    QString passwordText; // as typed, for the SQL output
    kavio::sim::UnitConfig unit;
    bool sql = false;
    bool quiet = false;
};

struct KaviosimCommandLine {
    enum class Outcome { Run, Help, Version, Error };
    Outcome outcome = Outcome::Error;
    KaviosimOptions options;
    QString text; // help text, or the error message
};

// Parses the full argument list (program name first). Never exits the process itself, so the
// caller decides the exit code.
KaviosimCommandLine parseKaviosimArguments(const QStringList& arguments);
