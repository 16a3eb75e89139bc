#include "boardandserver.h"

bool BoardAndServer::start(QString *error, const QStringList &boardArguments) {
    m_board = std::make_unique<BoardProcess>(
        QStringList{QStringLiteral("--first-id"), QStringLiteral("4711")} + boardArguments);
    if (!m_board->start()) {
        *error = m_board->errorString();
        return false;
    }
    m_server = std::make_unique<ServerFixture>();
    return m_server->prepare(m_board->proxyUrl(), error);
}

bool BoardAndServer::end() {
    // A release ends the server soon after it answers.
    const bool ended = ServerFixture::waitUntilGone(5000);
    ServerFixture::endLeftover();
    m_server.reset();
    m_board.reset();
    return ended;
}
