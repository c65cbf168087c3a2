#pragma once

#include "HistoryQuery.h"

#include <QDateTime>
#include <QString>

namespace kavio {

// The time range and source of a history filter, as `kavioctl history` and the service's
// GET /api/v1/history both take them: `since` and `until` as ParseHistoryTime reads them,
// `source` as a source's name with '-' for its blanks ("timed-poll"). A null word was not given.
// Gives false and a one-line reason for a word that names no time or source.
bool readHistoryFilterWords(const QString& since, const QString& until, const QString& source,
                            const QDateTime& now, HistoryFilter& filter, QString& problem);

} // namespace kavio
