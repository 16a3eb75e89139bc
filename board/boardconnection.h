#pragma once

#include "boardrequest.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

namespace Orvex {

class JobBoard;

// One client connection: reads one request, answers it, closes. Everything is event-driven, so a
// connection that drips or streams never holds up the others.
class BoardConnection : public QObject {
    Q_OBJECT
public:
    BoardConnection(QTcpSocket *socket, JobBoard *board);

private:
    enum class State { ReadingHead, ReadingBody, Answering };

    void readRequest();
    bool parseHead(qsizetype headEnd);
    void answerNow(const BoardReply &reply);
    void send(const BoardReply &reply);
    void writeHead(const BoardReply &reply, bool withLength, qint64 length);
    void streamHugeBody();
    void resetConnection();
    void finish();

    QTcpSocket *m_socket; // owned through the QObject tree
    QPointer<JobBoard> m_board;
    State m_state = State::ReadingHead;
    QByteArray m_buffer;
    BoardRequest m_request;
    qint64 m_bodyLength = 0;
    QByteArray m_hugeChunk;
    qint64 m_hugeRemaining = 0;
};

} // namespace Orvex
