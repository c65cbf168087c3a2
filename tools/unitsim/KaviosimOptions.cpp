#include "KaviosimOptions.h"

#include "TextEscapes.h"

#include <QCommandLineParser>

namespace {

using kavio::sim::Behaviour;

// Parses a whole decimal number within [low, high], or reports why not.
bool parseBounded(const QString& text, qint64 low, qint64 high, const QString& option,
                  qint64& value, QString& error) {
    bool ok = false;
    value = text.toLongLong(&ok);
    if (!ok || value < low || value > high) {
        error = QStringLiteral("--%1 must be a whole number from %2 to %3, not \"%4\"")
                    .arg(option)
                    .arg(low)
                    .arg(high)
                    .arg(text);
        return false;
    }
    return true;
}

KaviosimCommandLine failure(const QString& message) {
    KaviosimCommandLine result;
    result.outcome = KaviosimCommandLine::Outcome::Error;
    result.text = message;
    return result;
}

} // namespace

KaviosimCommandLine parseKaviosimArguments(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulates Kavio units (networked power switches) on TCP ports."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption countOption(QStringLiteral("count"),
                                         QStringLiteral("Number of units (default 1)."),
                                         QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption basePortOption(
        QStringLiteral("base-port"),
        QStringLiteral("Port of the first unit; the others follow on consecutive ports. 0: each "
                       "on a free port (default 5001)."),
        QStringLiteral("P"), QStringLiteral("5001"));
    const QCommandLineOption addressOption(QStringLiteral("address"),
                                           QStringLiteral("Address to listen on (default "
                                                          "127.0.0.1)."),
                                           QStringLiteral("ADDRESS"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption behaviourOption(
        QStringLiteral("behaviour"),
        QStringLiteral("How the units answer: %1 (default switch).")
            .arg(kavio::sim::behaviourNames().join(QStringLiteral("|"))),
        QStringLiteral("NAME"), QStringLiteral("switch"));
    const QCommandLineOption cyclesOption(
        QStringLiteral("cycles"), QStringLiteral("\"CYCLE\" answers per cycle (default 3)."),
        QStringLiteral("N"), QStringLiteral("3"));
    const QCommandLineOption delayOption(
        QStringLiteral("delay"), QStringLiteral("Reply delay of the slow behaviour (default 0)."),
        QStringLiteral("MS"), QStringLiteral("0"));
    const QCommandLineOption replyOption(
        QStringLiteral("reply"),
        QStringLiteral("Fixed reply of the garbage behaviour; \\r \\n \\t \\e \\0 \\\\ \\xHH "
                       "escapes allowed (default on\\r\\n)."),
        QStringLiteral("TEXT"));
    const QCommandLineOption preambleOption(
        QStringLiteral("preamble"),
        QStringLiteral("Bytes sent as soon as a connection is accepted, same escapes."),
        QStringLiteral("TEXT"));
    const QCommandLineOption passwordOption(
        QStringLiteral("password"),
        QStringLiteral("Password the units require (default: any password accepted)."),
        QStringLiteral("PW"));
    const QCommandLineOption sqlOption(
        QStringLiteral("sql"), QStringLiteral("Print SQL that adds the units to the control "
                                              "center's \"Master\" table, and exit."));
    const QCommandLineOption quietOption(QStringLiteral("quiet"),
                                         QStringLiteral("Print nothing while serving."));
    parser.addOptions({countOption, basePortOption, addressOption, behaviourOption, cyclesOption,
                       delayOption, replyOption, preambleOption, passwordOption, sqlOption,
                       quietOption});

    if (!parser.parse(arguments)) {
        return failure(parser.errorText());
    }
    if (parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all"))) {
        return {KaviosimCommandLine::Outcome::Help, {}, parser.helpText()};
    }
    if (parser.isSet(versionOption)) {
        return {KaviosimCommandLine::Outcome::Version, {}, {}};
    }
    if (!parser.positionalArguments().isEmpty()) {
        return failure(QStringLiteral("unexpected argument \"%1\"")
                           .arg(parser.positionalArguments().constFirst()));
    }

    KaviosimOptions options;
    QString error;
    qint64 number = 0;
    if (!parseBounded(parser.value(countOption), 1, 10000, QStringLiteral("count"), number,
                      error)) {
        return failure(error);
    }
    options.count = int(number);
    if (!parseBounded(parser.value(basePortOption), 0, 65535, QStringLiteral("base-port"), number,
                      error)) {
        return failure(error);
    }
    options.basePort = quint16(number);
    if (options.basePort != 0 && int(options.basePort) + options.count - 1 > 65535) {
        return failure(QStringLiteral("%1 units from port %2 run past port 65535")
                           .arg(options.count)
                           .arg(options.basePort));
    }
    if (!options.address.setAddress(parser.value(addressOption))) {
        return failure(QStringLiteral("--address \"%1\" is not an IP address")
                           .arg(parser.value(addressOption)));
    }

    auto& unit = options.unit;
    const auto behaviour = kavio::sim::behaviourFromName(parser.value(behaviourOption));
    if (!behaviour) {
        return failure(QStringLiteral("unknown --behaviour \"%1\"; one of %2")
                           .arg(parser.value(behaviourOption),
                                kavio::sim::behaviourNames().join(QStringLiteral(", "))));
    }
    unit.behaviour = *behaviour;
    if (!parseBounded(parser.value(cyclesOption), 0, 1'000'000, QStringLiteral("cycles"), number,
                      error)) {
        return failure(error);
    }
    unit.cycles = int(number);
    if (!parseBounded(parser.value(delayOption), 0, 3'600'000, QStringLiteral("delay"), number,
                      error)) {
        return failure(error);
    }
    unit.delayMs = int(number);

    const QString replyText =
        parser.isSet(replyOption) ? parser.value(replyOption) : QStringLiteral("on\\r\\n");
    const auto reply = kavio::sim::unescapeText(replyText);
    if (!reply) {
        return failure(QStringLiteral("--reply \"%1\" has a malformed escape").arg(replyText));
    }
    unit.reply = *reply;
    const auto preamble = kavio::sim::unescapeText(parser.value(preambleOption));
    if (!preamble) {
        return failure(QStringLiteral("--preamble \"%1\" has a malformed escape")
                           .arg(parser.value(preambleOption)));
    }
    unit.preamble = *preamble;
    if (parser.isSet(passwordOption)) {
        options.passwordText = parser.value(passwordOption);
        const QByteArray password = options.passwordText.toUtf8();
        if (password.contains('\x1b')) {
            return failure(QStringLiteral("--password cannot contain the ESC character"));
        }
        unit.password = password;
    }

    options.sql = parser.isSet(sqlOption);
    options.quiet = parser.isSet(quietOption);
    if (options.sql && options.basePort == 0) {
        return failure(QStringLiteral("--sql needs a fixed --base-port (not 0)"));
    }
    return {KaviosimCommandLine::Outcome::Run, options, {}};
}
