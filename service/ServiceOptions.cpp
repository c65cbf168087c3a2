#include "ServiceOptions.h"

#include "Database.h"
#include "SettingsFile.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <QSettings>

namespace kavio::service {

bool parseListen(const QString& text, QHostAddress& address, quint16& port) {
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint number = text.mid(colon + 1).toUInt(&ok);
    if (!ok || number > 65535 || !address.setAddress(host))
        return false;
    port = quint16(number);
    return true;
}

ParseResult parseServiceOptions(const QStringList& arguments, ServiceOptions& options,
                                QString& problem) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Serves the Kavio units of one database without a window: the queue, "
                       "polling, timers, the control socket for kavioctl and, when asked for, "
                       "an HTTP interface."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays this help."));
    parser.addOption(help);
    parser.addVersionOption();
    const QCommandLineOption database(
        QStringLiteral("database"),
        QStringLiteral("The database file (default: %1).").arg(Database::defaultPath()),
        QStringLiteral("FILE"));
    const QCommandLineOption create(
        QStringLiteral("create"),
        QStringLiteral("Makes the --database file, and its folder, when they do not exist."));
    const QCommandLineOption http(
        QStringLiteral("http"),
        QStringLiteral("Serves HTTP on ADDRESS:PORT (default: Http/Listen of the settings file; "
                       "none when neither is given)."),
        QStringLiteral("ADDRESS:PORT"));
    const QCommandLineOption token(
        QStringLiteral("http-token-file"),
        QStringLiteral("Every HTTP request needs 'Authorization: Bearer' with the token in FILE "
                       "(mode 0600); required for an address other than loopback."),
        QStringLiteral("FILE"));
    const QCommandLineOption host(
        QStringLiteral("http-host"),
        QStringLiteral("Answers HTTP requests for NAME too (a request for any other Host gets "
                       "421); repeatable (default: Http/Hosts of the settings file)."),
        QStringLiteral("NAME"));
    const QCommandLineOption cert(QStringLiteral("tls-cert"),
                                  QStringLiteral("Serves HTTPS with this PEM certificate."),
                                  QStringLiteral("FILE"));
    const QCommandLineOption key(QStringLiteral("tls-key"),
                                 QStringLiteral("The PEM private key of --tls-cert."),
                                 QStringLiteral("FILE"));
    parser.addOptions({database, create, http, host, token, cert, key});
    if (!parser.parse(arguments)) {
        problem = parser.errorText();
        return ParseResult::Error;
    }
    if (parser.isSet(help)) {
        problem = parser.helpText();
        return ParseResult::Exit;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        problem = QStringLiteral("kaviod %1\n").arg(QStringLiteral(KAVIOCC_VERSION));
        return ParseResult::Exit;
    }
    if (!parser.positionalArguments().isEmpty()) {
        problem = QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments()[0]);
        return ParseResult::Error;
    }
    options.databaseGiven = parser.isSet(database);
    options.database = options.databaseGiven ? parser.value(database) : Database::defaultPath();
    options.create = parser.isSet(create);
    if (options.create && !options.databaseGiven) {
        problem = QStringLiteral("'--create' goes with '--database'");
        return ParseResult::Error;
    }
    const QSettings settings = settingsFile();
    options.http = parser.isSet(http)
                       ? parser.value(http)
                       : settings.value(QStringLiteral("Http/Listen")).toString().trimmed();
    options.httpHosts = parser.isSet(host)
                            ? parser.values(host)
                            : settings.value(QStringLiteral("Http/Hosts")).toStringList();
    static const QRegularExpression hostName(QStringLiteral("^[A-Za-z0-9._-]{1,253}$"));
    for (QString& name : options.httpHosts) {
        name = name.trimmed();
        if (!hostName.match(name).hasMatch()) {
            problem = QStringLiteral("'--http-host' (or Http/Hosts) takes a host name, not '%1'")
                          .arg(name);
            return ParseResult::Error;
        }
    }
    options.tokenFile = parser.value(token);
    options.tlsCert = parser.value(cert);
    options.tlsKey = parser.value(key);
    if (!options.http.isEmpty() &&
        !parseListen(options.http, options.httpAddress, options.httpPort)) {
        problem = QStringLiteral("'--http' (or Http/Listen) takes ADDRESS:PORT, not '%1'")
                      .arg(options.http);
        return ParseResult::Error;
    }
    if (options.tlsCert.isEmpty() != options.tlsKey.isEmpty()) {
        problem = QStringLiteral("'--tls-cert' and '--tls-key' go together");
        return ParseResult::Error;
    }
    return ParseResult::Ok;
}

} // namespace kavio::service
