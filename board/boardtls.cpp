#include "boardtls.h"

#include "boardlogging.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslServer>

namespace Orvex {

namespace BoardTls {

namespace {

// A PEM key does not say its algorithm in a form QSslKey reads, so each is tried in turn.
QSslKey readPrivateKey(const QByteArray &pem) {
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        QSslKey key(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!key.isNull())
            return key;
    }
    return {};
}

} // namespace

std::optional<QSslConfiguration> serverConfiguration(const QString &certificateFile, const QString &keyFile,
                                                     const QString &clientAuthorityFile,
                                                     QString *errorMessage) {
    if (!QSslSocket::supportsSsl()) {
        *errorMessage = QStringLiteral("TLS is not available: no TLS backend for Qt Network");
        return std::nullopt;
    }
    const QList<QSslCertificate> chain =
        QSslCertificate::fromPath(certificateFile, QSsl::Pem, QSslCertificate::PatternSyntax::FixedString);
    if (chain.isEmpty()) {
        *errorMessage = QStringLiteral("no PEM certificate in %1").arg(certificateFile);
        return std::nullopt;
    }
    QFile file(keyFile);
    if (!file.open(QIODevice::ReadOnly)) {
        *errorMessage = QStringLiteral("cannot open %1: %2").arg(keyFile, file.errorString());
        return std::nullopt;
    }
    const QSslKey key = readPrivateKey(file.readAll());
    if (key.isNull()) {
        *errorMessage = QStringLiteral("no unencrypted PEM private key in %1").arg(keyFile);
        return std::nullopt;
    }

    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(chain);
    configuration.setPrivateKey(key);
    if (clientAuthorityFile.isEmpty()) {
        configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
        return configuration;
    }
    const QList<QSslCertificate> authorities = QSslCertificate::fromPath(
        clientAuthorityFile, QSsl::Pem, QSslCertificate::PatternSyntax::FixedString);
    if (authorities.isEmpty()) {
        *errorMessage = QStringLiteral("no PEM certificate in %1").arg(clientAuthorityFile);
        return std::nullopt;
    }
    configuration.setCaCertificates(authorities);
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    return configuration;
}

std::unique_ptr<QTcpServer> makeServer(const std::optional<QSslConfiguration> &configuration) {
    if (!configuration)
        return std::make_unique<QTcpServer>();
    auto server = std::make_unique<QSslServer>();
    server->setSslConfiguration(*configuration);
    // A client that refuses the certificate ends the handshake; the server drops that socket itself.
    QObject::connect(server.get(), &QSslServer::errorOccurred, server.get(),
                     [](QSslSocket *socket, QAbstractSocket::SocketError) {
                         qCDebug(lcBoard) << "handshake failed:" << socket->errorString();
                     });
    return server;
}

} // namespace BoardTls

} // namespace Orvex
