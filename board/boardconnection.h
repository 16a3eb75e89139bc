#pragma once

#include "boardrequest.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

namespace Orvex {

class JobBoard;

// One client connection: reads requests and answers them in turn, keeping the connection open between
// them as the board's connection policy says; a fault that breaks the exchange closes it. Everything is
// event-driven, so a connection that drips or streams never holds up the others.
class BoardConnection : public QObject {
    Q_OBJECT
public:
    BoardConnection(QTcpSocket *socket, JobBoard *board);
    ~BoardConnection() override;

private:
    enum class State { ReadingHead, ReadingBody, Answering, Closing };

    void readRequest();
    void takeRequests();
    bool parseHead(qsizetype headEnd);
    void takeRequest();
    void answerNow(const BoardReply &reply);
    // The board counts the requests it is answering: from the reply's choice until it goes out.
    void answering(bool unavailable);
    void answered();
    void send(const BoardReply &reply);
    bool keepsOpenAfter(const BoardReply &reply) const;
    void writeHead(const BoardReply &reply, bool withLength, qint64 length, bool keepOpen = false);
    void replied(bool keepOpen);
    void streamHugeBody();
    void resetConnection();
    void finish();

    QTcpSocket *m_socket; // owned through the QObject tree
    QPointer<JobBoard> m_board;
    State m_state = State::ReadingHead;
    enum Answering { NotAnswering, AnsweringPosting, AnsweringUnavailable } m_answering = NotAnswering;
    QByteArray m_buffer;
    BoardRequest m_request;
    qint64 m_bodyLength = 0;
    QByteArray m_hugeChunk;
    qint64 m_hugeRemaining = 0;
    qint64 m_number = 0;
    int m_replies = 0;
    QTimer m_idleTimer;
};

} // namespace Orvex
