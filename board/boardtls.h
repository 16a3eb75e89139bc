#pragma once

#include <QSslConfiguration>
#include <QString>
#include <QTcpServer>

#include <memory>
#include <optional>

namespace Orvex {

// TLS for the board: the server's side of the handshake from PEM files, and the listening socket.
namespace BoardTls {

// The certificate file holds the board's certificate first, then any intermediates to send with it. With
// a client authority file, the board takes only clients that present a certificate it issued.
std::optional<QSslConfiguration> serverConfiguration(const QString &certificateFile, const QString &keyFile,
                                                     const QString &clientAuthorityFile,
                                                     QString *errorMessage);

// A plain TCP server without a configuration; with one, a server that hands out a connection only once
// its handshake is done. Either way pendingConnectionAvailable() announces connections ready for use.
std::unique_ptr<QTcpServer> makeServer(const std::optional<QSslConfiguration> &configuration);

} // namespace BoardTls

} // namespace Orvex
