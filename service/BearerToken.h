#pragma once

#include <QByteArray>
#include <QString>

namespace kavio::service {

// The token that every HTTP request must carry when the service is given a token file.
struct BearerToken {
    // Reads the token: the file must be a regular file that only its owner can read, holding one
    // line. It is opened without blocking, so a FIFO or a device given by mistake is refused at
    // once instead of holding up the start. False with the reason in `problem`.
    static bool read(const QString& path, QByteArray& token, QString& problem);
    // Whether an Authorization header carries `token` with the Bearer scheme, whose name is
    // case-insensitive. The comparison takes as long whichever byte differs, so that the time of
    // a refusal tells nothing about the token.
    static bool matches(const QByteArray& authorization, const QByteArray& token);
};

} // namespace kavio::service
