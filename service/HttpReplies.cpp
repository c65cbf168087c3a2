#include "HttpReplies.h"

#include "HttpGuard.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTcpSocket>

namespace kavio::service {

QByteArray jsonBody(const QJsonValue& value) {
    return (value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject()))
        .toJson(QJsonDocument::Indented);
}

QByteArray errorBody(const QString& message) {
    return jsonBody(QJsonObject{{QStringLiteral("error"), message}});
}

void writeJsonError(QTcpSocket* socket, int status, const QString& message) {
    writeResponse(socket, status, JsonType, errorBody(message));
}

void answerFromListing(StoreListing& listing, QTcpSocket* socket, StoreListing::Work work,
                       const QString& cacheKey, const QByteArray& contentType) {
    if (listing.waiting() >= MaxListingWaiting) {
        writeResponse(socket, 503, JsonType,
                      errorBody(QStringLiteral("the store is being read for other requests: "
                                               "try again shortly")),
                      {{"Retry-After", "1"}});
        return;
    }
    listing.run(
        std::move(work),
        [socket = QPointer<QTcpSocket>(socket), contentType](const ListingAnswer& answer) {
            if (answer.Status != 200)
                writeResponse(socket, answer.Status, JsonType,
                              errorBody(QString::fromUtf8(answer.Body).trimmed()));
            else
                writeResponse(socket, 200, contentType, answer.Body, answer.Headers);
        },
        cacheKey);
}

} // namespace kavio::service
