#pragma once

#include <QHostAddress>
#include <QString>
#include <QStringList>

namespace kavio::service {

// kaviod's command line, with "Http/Listen" of the settings file as the default of --http.
struct ServiceOptions {
    QString database;
    // --create: a --database that does not exist yet is made (the default one always is).
    bool create = false;
    bool databaseGiven = false;
    // "ADDRESS:PORT" as given; empty: no HTTP interface.
    QString http;
    QHostAddress httpAddress;
    quint16 httpPort = 0;
    // Host names the HTTP interface answers to beyond its address (and "localhost" on loopback):
    // --http-host, repeatable, or "Http/Hosts" of the settings file.
    QStringList httpHosts;
    QString tokenFile;
    QString tlsCert;
    QString tlsKey;
};

enum class ParseResult { Ok, Exit, Error };

// Exit: `problem` holds the help or version text to print. Error: `problem` says what is wrong.
ParseResult parseServiceOptions(const QStringList& arguments, ServiceOptions& options,
                                QString& problem);
// "ADDRESS:PORT" (an IPv6 address in brackets); false when it is not one.
bool parseListen(const QString& text, QHostAddress& address, quint16& port);

} // namespace kavio::service
