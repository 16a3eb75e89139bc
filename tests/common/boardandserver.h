#pragma once

#include "boardprocess.h"
#include "serverfixture.h"

#include <memory>

// What a client test posts through: the reference board, giving job ids from 4711, and the server of
// this build tree, which the bus starts on demand and which posts to that board. Started before each test
// function and ended after it.
class BoardAndServer {
public:
    // boardArguments: more options for the board, such as its connection modes.
    bool start(QString *error, const QStringList &boardArguments = {});
    // Ends what a test left behind. False when a server was still running once its release should have
    // ended it.
    bool end();

    BoardProcess &board() { return *m_board; }
    ServerFixture &server() { return *m_server; }

private:
    std::unique_ptr<BoardProcess> m_board;
    std::unique_ptr<ServerFixture> m_server;
};
