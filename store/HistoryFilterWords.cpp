#include "HistoryFilterWords.h"

#include "CommandSource.h"

namespace kavio {

bool readHistoryFilterWords(const QString& since, const QString& until, const QString& source,
                            const QDateTime& now, HistoryFilter& filter, QString& problem) {
    for (const auto& [text, target] :
         {std::pair{since, &filter.SinceMs}, std::pair{until, &filter.UntilMs}}) {
        if (text.isNull())
            continue;
        const std::optional<qint64> when = ParseHistoryTime(text.trimmed(), now);
        if (!when) {
            problem = QStringLiteral("'%1' is no time: give an ISO date or time (2026-12-07, "
                                     "12:30, 2026-12-07T12:30) or a relative time (90s, 15m, "
                                     "2h, 3d, 1w)")
                          .arg(text);
            return false;
        }
        *target = *when;
    }
    if (!source.isNull()) {
        // A blank may be written as '-' ("timed-poll"), so a name's own '-' ("cycle follow-up")
        // is compared as a blank too.
        auto blanked = [](QString word) {
            return word.replace(QLatin1Char('-'), QLatin1Char(' '));
        };
        CommandSource named{};
        bool found = false;
        for (int each = 0; !found && !sourceName(CommandSource(each)).isEmpty(); ++each) {
            named = CommandSource(each);
            found = blanked(source) == blanked(sourceName(named));
        }
        if (!found) {
            problem = QStringLiteral("'%1' is no source: give button, popup, poll, timed-poll, "
                                     "timer, cycle-follow-up, kavioctl or http")
                          .arg(source);
            return false;
        }
        filter.Sources << sourceName(named);
    }
    return true;
}

} // namespace kavio
