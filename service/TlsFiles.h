#pragma once

#include <QSslConfiguration>
#include <QString>
#include <QStringList>

namespace kavio::service {

// The certificate and private key the HTTP interface serves HTTPS with.
struct TlsFiles {
    // Reads both PEM files into `configuration` and proves that they belong together with one
    // TLS handshake over loopback, bounded in time, so that a key of another certificate is
    // refused at start rather than failing every client later. `warnings` gets what is wrong but
    // still served: a certificate that has expired or is not valid yet. False with the reason
    // in `problem`.
    static bool load(const QString& certPath, const QString& keyPath,
                     QSslConfiguration& configuration, QString& problem, QStringList& warnings);
    // Whether a server with `configuration` completes a handshake.
    static bool handshakes(const QSslConfiguration& configuration, QString& problem);
};

} // namespace kavio::service
