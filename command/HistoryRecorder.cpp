#include "HistoryRecorder.h"

#include "CommandEngine.h"
#include "HistoryWriter.h"

namespace kavio {

QString HistoryOutcomeOf(const TCommandResult& result) {
    using Outcome = TCommandResult::Outcome;
    const QStringList& words = HistoryOutcomes();
    switch (result.Result) {
    case Outcome::Refused:
        return words[2];
    case Outcome::NotConnected:
        return result.TimedOut ? words[3] : words[2];
    case Outcome::Broken:
        if (!result.Written)
            return words[4];
        break;
    case Outcome::Answered:
    case Outcome::Dropped:
        break;
    }
    if (!result.Stored)
        return words[5];
    if (result.StillCycling)
        return words[6];
    if (result.Status != StatusUnknown)
        return words[0];
    return result.TimedOut ? words[3] : words[1];
}

std::optional<HistoryRow> HistoryRowOf(const TCommandResult& result) {
    if (result.Result == TCommandResult::Outcome::Dropped)
        return std::nullopt;
    HistoryRow row;
    row.TimeMs = result.StartedMs;
    row.Index = result.Index;
    row.Name = result.Name;
    row.Address = result.Address;
    row.Port = result.Port;
    row.Command = QString(QLatin1Char(CommandLetterOf(result.Task)));
    row.Task = result.Task;
    row.Source = sourceName(result.Source);
    row.Reply = EscapedReply(result.Reply);
    row.Status = result.Status;
    row.Outcome = HistoryOutcomeOf(result);
    row.DurationMs = result.DurationMs;
    return row;
}

void RecordHistory(TCommandEngine& engine, HistoryWriter& writer) {
    // The row of an exchange that wrote a status goes in with it; the others are gathered.
    engine.setRowWriter([](const TCommandResult& result) {
        if (const std::optional<HistoryRow> row = HistoryRowOf(result))
            HistoryWriter::insertNow(*row);
    });
    QObject::connect(&engine, &TCommandEngine::exchangeFinished, &writer,
                     [&engine, &writer](const TCommandResult& result) {
                         // The program that served the exchange keeps it.
                         if (engine.forwarding() || result.Recorded)
                             return;
                         if (const std::optional<HistoryRow> row = HistoryRowOf(result))
                             writer.add(*row);
                     });
}

} // namespace kavio
