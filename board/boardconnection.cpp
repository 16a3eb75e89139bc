#include "boardconnection.h"

#include "boardlogging.h"
#include "jobboard.h"
#include "requestparser.h"

#include <sys/socket.h>

namespace Orvex {

namespace {

// Far above any header a client sends; stops a peer that never ends its head.
constexpr qsizetype MaxHeadBytes = 64 * 1024;
constexpr qint64 HugeChunkBytes = 64 * 1024;
// What a client may send ahead while its request is being answered: a few requests, not a flood.
constexpr qsizetype MaxPendingBytes = 17 * 1024 * 1024;
// A dripping connection is dropped after this, should its client never give up.
constexpr int DripGiveUpMilliseconds = 10 * 60 * 1000;

QByteArray reasonPhrase(int status) {
    switch (status) {
    case 100:
        return "Continue";
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 411:
        return "Length Required";
    case 413:
        return "Content Too Large";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

BoardReply errorReply(int status, const QByteArray &body) {
    BoardReply reply;
    reply.status = status;
    reply.body = body;
    return reply;
}

} // namespace

BoardConnection::BoardConnection(QTcpSocket *socket, JobBoard *board)
    : QObject(board)
    , m_socket(socket)
    , m_board(board)
    , m_number(board->connectionOpened()) {
    socket->setParent(this);
    connect(socket, &QTcpSocket::readyRead, this, &BoardConnection::readRequest);
    connect(socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error != QAbstractSocket::RemoteHostClosedError)
            qCDebug(lcBoard) << "connection error:" << m_socket->errorString();
        if (m_socket->state() == QAbstractSocket::UnconnectedState)
            deleteLater();
    });
    if (const std::optional<int> idle = board->connectionPolicy().idleTimeoutSeconds) {
        m_idleTimer.setSingleShot(true);
        m_idleTimer.setInterval(std::chrono::seconds(*idle));
        connect(&m_idleTimer, &QTimer::timeout, this, [this] {
            qCDebug(lcBoard) << "closing connection" << m_number << "after its idle time";
            finish();
        });
        m_idleTimer.start();
    }
    readRequest();
}

BoardConnection::~BoardConnection() {
    answered();
    if (m_board)
        m_board->connectionClosed();
}

void BoardConnection::readRequest() {
    const QByteArray received = m_socket->readAll();
    if (m_state == State::Closing)
        return;
    if (!received.isEmpty())
        m_idleTimer.stop();
    m_buffer.append(received);
    // A client may send its next request before this one is answered; it waits in the buffer, bounded.
    if (m_state == State::Answering) {
        if (m_buffer.size() > MaxPendingBytes)
            resetConnection();
        return;
    }
    takeRequests();
}

void BoardConnection::takeRequests() {
    if (m_state != State::ReadingHead && m_state != State::ReadingBody)
        return;
    if (m_state == State::ReadingHead) {
        const qsizetype headEnd = m_buffer.indexOf("\r\n\r\n");
        if (headEnd < 0) {
            if (m_buffer.size() > MaxHeadBytes)
                answerNow(errorReply(431, "request head too large"));
            return;
        }
        m_request = BoardRequest{};
        m_request.connection = m_number;
        if (!parseHead(headEnd))
            return;
        m_buffer.remove(0, headEnd + 4);
        m_state = State::ReadingBody;
    }
    if (m_state == State::ReadingBody && m_buffer.size() >= m_bodyLength) {
        m_request.body = m_buffer.left(m_bodyLength);
        m_buffer.remove(0, m_bodyLength);
        takeRequest();
    }
}

bool BoardConnection::parseHead(qsizetype headEnd) {
    if (const std::optional<BoardReply> refusal =
            parseRequestHead(m_buffer.left(headEnd), &m_request, &m_bodyLength)) {
        answerNow(*refusal);
        return false;
    }
    if (m_request.headers.value("expect").toLower() == "100-continue")
        m_socket->write("HTTP/1.1 100 Continue\r\n\r\n");
    return true;
}

void BoardConnection::takeRequest() {
    if (!m_board) {
        answerNow(errorReply(503, "shutting down"));
        return;
    }
    const std::optional<int> dropAfter = m_board->connectionPolicy().dropAfterReplies;
    if (dropAfter && m_replies >= *dropAfter) {
        // Taken (a posting is kept), never answered.
        m_board->answer(m_request);
        qCDebug(lcBoard) << "dropping connection" << m_number << "after taking its request";
        finish();
        return;
    }
    answerNow(m_board->answer(m_request));
}

void BoardConnection::answerNow(const BoardReply &reply) {
    m_state = State::Answering;
    answering(reply.unavailable);
    if (reply.fault.kind == BoardFault::Kind::Delay || reply.fault.kind == BoardFault::Kind::SlowRedirect) {
        QTimer::singleShot(reply.fault.code, this, [this, reply] { send(reply); });
        return;
    }
    send(reply);
}

// Only a reply that ends where its length says, to a client that did not ask to close, leaves the
// connection usable; a refused head may leave the rest of the request unread.
bool BoardConnection::keepsOpenAfter(const BoardReply &reply) const {
    if (!m_board || !m_board->connectionPolicy().keepAlive || m_state != State::Answering)
        return false;
    if (reply.status == 400 || reply.status == 411 || reply.status == 413 || reply.status == 431 ||
        reply.status == 501)
        return false;
    if (m_request.headers.value("connection").toLower().contains("close"))
        return false;
    return m_request.version == "HTTP/1.1";
}

void BoardConnection::writeHead(const BoardReply &reply, bool withLength, qint64 length, bool keepOpen) {
    QByteArray head =
        "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status) + "\r\n";
    if (!reply.contentType.isEmpty())
        head += "Content-Type: " + reply.contentType + "\r\n";
    if (withLength)
        head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    for (const auto &[name, value] : reply.headers)
        head += name + ": " + value + "\r\n";
    const std::optional<int> announced =
        m_board ? m_board->connectionPolicy().announcedTimeoutSeconds : std::nullopt;
    if (!keepOpen)
        head += "Connection: close\r\n";
    else if (announced)
        head += "Keep-Alive: timeout=" + QByteArray::number(*announced) + "\r\n";
    head += "\r\n";
    m_socket->write(head);
}

void BoardConnection::answering(bool unavailable) {
    if (m_board && !m_answering) {
        m_board->answeringStarted(unavailable);
        m_answering = unavailable ? AnsweringUnavailable : AnsweringPosting;
    }
}

void BoardConnection::answered() {
    if (m_board && m_answering)
        m_board->answeringEnded(m_answering == AnsweringUnavailable);
    m_answering = NotAnswering;
}

void BoardConnection::send(const BoardReply &reply) {
    answered();
    using K = BoardFault::Kind;
    switch (reply.fault.kind) {
    case K::CloseBeforeStatus:
        finish();
        return;
    case K::Reset:
        resetConnection();
        return;
    case K::CloseMidBody:
        writeHead(reply, true, reply.body.size() + 100);
        m_socket->write(reply.body);
        finish();
        return;
    case K::Drip:
        writeHead(reply, true, reply.body.size() + 100);
        m_socket->write(reply.body.left(4));
        m_socket->flush();
        QTimer::singleShot(DripGiveUpMilliseconds, this, &BoardConnection::finish);
        return;
    case K::Trickle:
        writeHead(reply, false, 0);
        startTrickle(m_socket, reply.body);
        return;
    case K::Garbage: {
        QByteArray garbage;
        for (int byte = 0; byte < 256; ++byte)
            garbage.append(char(byte));
        m_socket->write(garbage);
        finish();
        return;
    }
    case K::Huge:
    case K::HugeUnsized: {
        const QByteArray prefix = reply.body + "&pad=";
        m_hugeRemaining = qMax<qint64>(0, reply.fault.bytes - prefix.size());
        m_hugeChunk = QByteArray(HugeChunkBytes, 'x');
        writeHead(reply, reply.fault.kind == K::Huge, prefix.size() + m_hugeRemaining);
        m_socket->write(prefix);
        connect(m_socket, &QTcpSocket::bytesWritten, this, &BoardConnection::streamHugeBody);
        streamHugeBody();
        return;
    }
    default: {
        const bool keepOpen = keepsOpenAfter(reply);
        writeHead(reply, true, reply.body.size(), keepOpen);
        m_socket->write(reply.body);
        replied(keepOpen);
        return;
    }
    }
}

void BoardConnection::replied(bool keepOpen) {
    ++m_replies;
    if (!keepOpen) {
        finish();
        return;
    }
    m_state = State::ReadingHead;
    if (m_buffer.isEmpty()) {
        if (m_board && m_board->connectionPolicy().idleTimeoutSeconds)
            m_idleTimer.start();
        return;
    }
    // From the event loop, not from here: a client that sends many requests at once must not nest one
    // call per request.
    QMetaObject::invokeMethod(this, &BoardConnection::takeRequests, Qt::QueuedConnection);
}

void BoardConnection::streamHugeBody() {
    // Keep only a little in flight, so a client that gives up early stops the stream early.
    while (m_hugeRemaining > 0 && m_socket->bytesToWrite() < 4 * HugeChunkBytes) {
        const qint64 bytes = qMin(m_hugeRemaining, HugeChunkBytes);
        m_socket->write(m_hugeChunk.constData(), bytes);
        m_hugeRemaining -= bytes;
    }
    if (m_hugeRemaining == 0) {
        disconnect(m_socket, &QTcpSocket::bytesWritten, this, &BoardConnection::streamHugeBody);
        finish();
    }
}

void BoardConnection::resetConnection() {
    m_state = State::Closing;
    // A zero linger time makes close() send RST instead of FIN.
    const linger abortive{1, 0};
    ::setsockopt(int(m_socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    m_socket->abort();
    deleteLater();
}

void BoardConnection::finish() {
    m_state = State::Closing;
    m_idleTimer.stop();
    // Waits for what is queued to go out, then closes; disconnected() then deletes this connection.
    m_socket->disconnectFromHost();
    if (m_socket->state() == QAbstractSocket::UnconnectedState)
        deleteLater();
}

} // namespace Orvex
