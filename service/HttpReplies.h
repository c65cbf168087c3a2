#pragma once

#include "StoreListing.h"

#include <QByteArray>
#include <QJsonValue>
#include <QString>

class QTcpSocket;

namespace kavio::service {

// The content types of the HTTP interface's answers.
inline const QByteArray TextType = "text/plain; charset=utf-8";
inline const QByteArray JsonType = "application/json";

// A JSON object or array as the answers write it: indented, ending in a line end.
QByteArray jsonBody(const QJsonValue& value);
// {"error": message}
QByteArray errorBody(const QString& message);
// Writes an answer with an error body.
void writeJsonError(QTcpSocket* socket, int status, const QString& message);

// Listings and metrics waiting for the store's reader at most; any more are answered 503.
inline constexpr int MaxListingWaiting = 16;

// Hands `work` to the reader thread; its answer goes to the socket, if still open, when it is
// done: a 200 with `contentType`, anything else as a JSON error.
void answerFromListing(StoreListing& listing, QTcpSocket* socket, StoreListing::Work work,
                       const QString& cacheKey, const QByteArray& contentType = JsonType);

} // namespace kavio::service
