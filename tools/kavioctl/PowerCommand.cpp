#include "Codes.h"
#include "ControlCharacters.h"
#include "CtlCommands.h"
#include "Exception.h"
#include "StatusWords.h"
#include "UnitCommandRunner.h"
#include "UnitDirectory.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <optional>

namespace kavio::ctl {
namespace {

QString commandWord(quint8 task) {
    switch (task) {
    case TaskPowerOn:
        return QStringLiteral("on");
    case TaskPowerOff:
        return QStringLiteral("off");
    case TaskReboot:
        return QStringLiteral("reboot");
    case TaskPulse:
        return QStringLiteral("pulse");
    case TaskCycle:
        return QStringLiteral("cycle");
    default:
        return QStringLiteral("query");
    }
}

// One line of the report, for one unit.
struct Line {
    UnitTarget unit;
    quint8 requested = 0;
    std::optional<quint8> sent;
    std::optional<TCommandResult> result;

    // ON, OFF, CYCLE or BUSY for a reply that is a status word; UNKNOWN for any other reply;
    // FAILED when the unit was not reached or the connection broke; SKIPPED when nothing was
    // sent (reboot or pulse of a unit whose last status is neither ON nor OFF).
    QString status() const {
        if (!sent)
            return QStringLiteral("SKIPPED");
        if (!result || result->Result != TCommandResult::Outcome::Answered)
            return QStringLiteral("FAILED");
        return statusWord(result->Status);
    }
    // On and off succeed only when the unit answers the state asked for: a unit that answers
    // BUSY (or OFF to an on) did not switch, whatever it said.
    bool failed() const {
        if (!result || !result->answeredWithStatusWord())
            return true;
        if (requested == TaskPowerOn)
            return result->Status != StatusOn;
        if (requested == TaskPowerOff)
            return result->Status != StatusOff;
        return false;
    }
};

void printLine(const Line& line, QTextStream& out) {
    QString command = commandWord(line.requested);
    if (line.sent && *line.sent != line.requested)
        command += QStringLiteral(" (") + commandWord(*line.sent) + QLatin1Char(')');
    out << escapeControlCharacters(line.unit.name) << '\t' << command << '\t' << line.status()
        << '\n';
    out.flush();
}

QJsonObject jsonOf(const Line& line) {
    QJsonObject object{
        {QStringLiteral("name"), line.unit.name},
        {QStringLiteral("index"), line.unit.index},
        {QStringLiteral("command"), commandWord(line.requested)},
        {QStringLiteral("sent"), line.sent ? QJsonValue(commandWord(*line.sent)) : QJsonValue()},
        {QStringLiteral("status"), line.status()},
    };
    if (line.result && line.result->Result == TCommandResult::Outcome::Answered)
        object.insert(QStringLiteral("reply"), QString::fromLatin1(line.result->Reply));
    return object;
}

// Sends each line's command, reports every unit, and gives the exit status.
int serve(QList<Line>& lines, bool json, bool isQuery, int waitMs, QTextStream& out,
          QTextStream& err) {
    QList<TCommandEntry> commands;
    QList<int> lineOf;
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i].sent) {
            // Whoever serves them (kavioctl itself, or the program it hands them to) records
            // them as kavioctl's.
            commands << TCommandEntry{lines[i].unit.index, *lines[i].sent, 0,
                                      CommandSource::Kavioctl};
            lineOf << i;
        } else {
            err << "kavioctl: " << escapeControlCharacters(lines[i].unit.name) << ": nothing sent, "
                << commandWord(lines[i].requested) << " needs the last status ON or OFF, not "
                << statusWord(lines[i].unit.status) << " (query the unit first)\n";
            if (!json)
                printLine(lines[i], out);
        }
    }

    UnitCommandRunner runner(err, waitMs);
    const bool complete = runner.run(commands, [&](int entry, const TCommandResult& result) {
        Line& line = lines[lineOf.at(entry)];
        line.result = result;
        if (!json)
            printLine(line, out);
    });

    bool anyFailed = !complete;
    bool allOn = true;
    QJsonArray report;
    for (const Line& line : std::as_const(lines)) {
        if (line.sent && !line.result && !json)
            printLine(line, out); // not served: reported as failed
        anyFailed = anyFailed || line.failed();
        allOn = allOn && line.result && line.result->Status == StatusOn;
        report.append(jsonOf(line));
    }
    if (json) {
        out << QJsonDocument(report).toJson(QJsonDocument::Indented);
        out.flush();
    }
    if (anyFailed)
        return ExitFailed;
    return isQuery && !allOn ? ExitNotOn : ExitOk;
}

} // namespace

int runPower(quint8 task, const QStringList& targets, bool all, bool json, int waitMs,
             QTextStream& out, QTextStream& err) {
    try {
        QStringList problems;
        const QList<UnitTarget> units = directory::resolveTargets(targets, all, problems);
        if (!problems.isEmpty()) {
            for (const QString& problem : std::as_const(problems))
                err << "kavioctl: " << problem << '\n';
            err << "kavioctl: nothing was sent\n";
            return ExitFailed;
        }
        if (units.isEmpty()) {
            err << "kavioctl: there are no units\n";
            return ExitFailed;
        }
        QList<Line> lines;
        for (const UnitTarget& unit : units)
            lines << Line{unit, task, taskToSend(task, unit.status), std::nullopt};
        return serve(lines, json, task == TaskQuery, waitMs, out, err);
    } catch (const Exception& error) {
        err << "kavioctl: " << escapeControlCharacters(error.message()) << '\n';
        return ExitFailed;
    }
}

int runPoll(bool json, int waitMs, QTextStream& out, QTextStream& err) {
    try {
        QList<Line> lines;
        for (const UnitTarget& unit : directory::unitsByKey())
            lines << Line{unit, TaskQuery, TaskQuery, std::nullopt};
        return serve(lines, json, false, waitMs, out, err);
    } catch (const Exception& error) {
        err << "kavioctl: " << escapeControlCharacters(error.message()) << '\n';
        return ExitFailed;
    }
}

void announceStoreChanged() {
    QTextStream quiet(stderr);
    UnitCommandRunner(quiet, 0).announceStoreChanged();
}

} // namespace kavio::ctl
