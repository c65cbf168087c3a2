#include "TlsFiles.h"

#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTimer>

namespace kavio::service {
namespace {

constexpr int HandshakeMs = 5000;

} // namespace

bool TlsFiles::load(const QString& certPath, const QString& keyPath,
                    QSslConfiguration& configuration, QString& problem, QStringList& warnings) {
    QFile certFile(certPath);
    QFile keyFile(keyPath);
    if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly)) {
        problem = QStringLiteral("the TLS certificate or key cannot be read");
        return false;
    }
    const QSslCertificate certificate(&certFile, QSsl::Pem);
    QSslKey key(&keyFile, QSsl::Rsa, QSsl::Pem);
    if (key.isNull()) {
        keyFile.seek(0);
        key = QSslKey(&keyFile, QSsl::Ec, QSsl::Pem);
    }
    if (certificate.isNull() || key.isNull()) {
        problem = QStringLiteral("the TLS certificate or key is not PEM");
        return false;
    }
    configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(certificate);
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    if (!handshakes(configuration, problem)) {
        problem = QStringLiteral("the TLS key %1 does not go with the certificate %2 (%3)")
                      .arg(keyPath, certPath, problem);
        return false;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (certificate.expiryDate() < now)
        warnings << QStringLiteral("Warning: the TLS certificate %1 expired on %2")
                        .arg(certPath, certificate.expiryDate().toString(Qt::ISODate));
    else if (certificate.effectiveDate() > now)
        warnings << QStringLiteral("Warning: the TLS certificate %1 is not valid before %2")
                        .arg(certPath, certificate.effectiveDate().toString(Qt::ISODate));
    return true;
}

bool TlsFiles::handshakes(const QSslConfiguration& configuration, QString& problem) {
    QSslServer server;
    server.setSslConfiguration(configuration);
    if (!server.listen(QHostAddress::LocalHost, 0)) {
        problem = server.errorString();
        return false;
    }
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&server, &QSslServer::errorOccurred, &loop,
                     [&](QSslSocket*, QAbstractSocket::SocketError) {
                         problem = QStringLiteral("the handshake failed");
                         loop.quit();
                     });
    QObject::connect(&server, &QSslServer::handshakeInterruptedOnError, &loop,
                     [&](QSslSocket*, const QSslError& error) {
                         problem = error.errorString();
                         loop.quit();
                     });
    QSslSocket client;
    client.setPeerVerifyMode(QSslSocket::VerifyNone);
    QObject::connect(&client, &QSslSocket::encrypted, &loop, &QEventLoop::quit);
    QObject::connect(&client, &QAbstractSocket::errorOccurred, &loop, [&] {
        if (problem.isEmpty())
            problem = client.errorString();
        loop.quit();
    });
    client.connectToHostEncrypted(QStringLiteral("127.0.0.1"), server.serverPort());
    deadline.start(HandshakeMs);
    loop.exec();
    if (client.isEncrypted())
        return true;
    if (problem.isEmpty())
        problem = QStringLiteral("no handshake within %1 s").arg(HandshakeMs / 1000);
    return false;
}

} // namespace kavio::service
