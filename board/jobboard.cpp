#include "jobboard.h"

#include "boardconnection.h"
#include "boardlogging.h"
#include "boardtls.h"
#include "listing.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QStringEncoder>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>

namespace Orvex {

namespace {

constexpr char ImportPath[] = "/cgi-bin/importJobs_xml.cgi";
constexpr char PostingsPath[] = "/postings";
constexpr char ConnectionsPath[] = "/connections";
constexpr char OutagePath[] = "/outage";
// What an overloaded board asks of its clients during an outage's unavailable part.
constexpr char OutageRetryAfter[] = "1";
// The listing field by which a posting asks for a fault of its own.
const QString FaultField = QStringLiteral("BoardFault");

BoardReply plainReply(int status, const QByteArray &body) {
    BoardReply reply;
    reply.status = status;
    reply.body = body;
    return reply;
}

BoardReply methodNotAllowed(const QByteArray &allowed) {
    BoardReply reply = plainReply(405, "method not allowed");
    reply.headers.append({"Allow", allowed});
    return reply;
}

QByteArray failureReply(const QString &error) {
    return "success=0&error=" + QUrl::toPercentEncoding(error);
}

bool faultCarriesJobId(BoardFault::Kind kind) {
    using K = BoardFault::Kind;
    switch (kind) {
    case K::None:
    case K::QuotedAmpersand:
    case K::TrailingCrLf:
    case K::Charset:
    case K::Huge:
    case K::HugeUnsized:
    case K::Delay:
    case K::Gzip:
    case K::Deflate:
    case K::Trickle:
    case K::Nul:
        return true;
    default:
        return false;
    }
}

// What the board keeps of every posting it receives, readable or not.
QJsonObject postingRecord(const BoardRequest &request) {
    QJsonObject posting{
        {QStringLiteral("target"), QString::fromLatin1(request.target)},
        {QStringLiteral("contentType"), QString::fromLatin1(request.headers.value("content-type"))},
        {QStringLiteral("userAgent"), QString::fromLatin1(request.headers.value("user-agent"))},
        {QStringLiteral("body"), QString::fromLatin1(request.body.toBase64())},
        {QStringLiteral("connection"), request.connection},
    };
    if (request.headers.contains("expect"))
        posting.insert(QStringLiteral("expect"), QString::fromLatin1(request.headers.value("expect")));
    return posting;
}

void recordListing(QJsonObject &posting, const Listing &listing) {
    QJsonArray fields;
    for (const auto &[name, value] : listing.fields)
        fields.append(QJsonArray{name, value});
    posting.insert(QStringLiteral("action"), listing.action);
    posting.insert(QStringLiteral("fields"), fields);
}

// A posting the board will not take: the error goes into its record and into the reply.
BoardReply refusal(QJsonObject &posting, const QString &error) {
    posting.insert(QStringLiteral("error"), error);
    BoardReply reply;
    reply.body = failureReply(error);
    return reply;
}

// The target of a redirect is answered normally, so a followed redirect ends somewhere. A random close
// is decided here, per posting.
BoardFault faultFor(const BoardFault &requested, const BoardRequest &request) {
    const bool redirected =
        QUrlQuery(QString::fromLatin1(request.query)).hasQueryItem(QStringLiteral("redirected"));
    if (requested.kind == BoardFault::Kind::CloseAtRandom) {
        BoardFault drawn;
        if (int(QRandomGenerator::global()->bounded(100)) < requested.code)
            drawn.kind = BoardFault::Kind::CloseBeforeStatus;
        return drawn;
    }
    if (redirected && requested.kind == BoardFault::Kind::SlowRedirect)
        return BoardFault{BoardFault::Kind::Delay, requested.code, 0, {}};
    return redirected && requested.kind == BoardFault::Kind::Redirect ? BoardFault{} : requested;
}

// "success=1", then extra, then the job id when the posting was given one.
QByteArray successBody(const QString &jobId, const QByteArray &extra = {}) {
    QByteArray body = "success=1" + extra;
    if (!jobId.isEmpty())
        body += "&jobid=" + jobId.toLatin1();
    return body;
}

void answerStatus(BoardReply &reply, const BoardFault &fault) {
    reply.status = fault.code;
    reply.body = fault.text;
}

void answerRedirect(BoardReply &reply, int status, const QByteArray &location) {
    reply.status = status;
    reply.headers.append({"Location", location});
    reply.body = "moved";
}

// The success line with text outside ASCII, encoded in the charset the fault names and labelled with it.
void answerInCharset(BoardReply &reply, const QByteArray &charset, const QString &jobId) {
    const QString text = jobId.isEmpty() ? QStringLiteral("success=1&note=\u00e9\u20ac")
                                         : QStringLiteral("success=1&jobid=%1-\u00e9\u20ac").arg(jobId);
    QStringEncoder encoder(charset.constData());
    reply.body = encoder.isValid() ? QByteArray(encoder.encode(text)) : text.toUtf8();
    reply.contentType = "text/plain; charset=" + charset;
}

void answerBinary(BoardReply &reply) {
    reply.contentType = "application/octet-stream";
    reply.body.clear();
    for (int byte = 0; byte < 256; ++byte)
        reply.body.append(char(byte));
}

// The reply to a posting the board took, misbehaving as the fault asks.
BoardReply replyFor(const BoardFault &fault, const QString &jobId) {
    using K = BoardFault::Kind;
    BoardReply reply;
    reply.fault = fault;
    reply.body = successBody(jobId);
    switch (fault.kind) {
    case K::Status:
        answerStatus(reply, fault);
        break;
    case K::Empty:
        reply.body.clear();
        break;
    case K::QuotedAmpersand:
        reply.body = successBody(jobId, "&note=\"a&b\"");
        break;
    case K::TrailingCrLf:
        reply.body += "\r\n";
        break;
    case K::NoJobId:
        reply.body = successBody(QString());
        break;
    case K::Failure:
        reply.body = "success=0&error=rejected";
        break;
    case K::RedirectLoop:
        answerRedirect(reply, 307, ImportPath);
        break;
    case K::Redirect:
        answerRedirect(reply, fault.code, QByteArray(ImportPath) + "?redirected=1");
        break;
    case K::SlowRedirect:
        answerRedirect(reply, 307, QByteArray(ImportPath) + "?redirected=1");
        break;
    case K::RedirectTo:
        answerRedirect(reply, 302, fault.text);
        break;
    case K::Charset:
        answerInCharset(reply, fault.text, jobId);
        break;
    case K::Binary:
        answerBinary(reply);
        break;
    case K::Nul:
        reply.body += QByteArray("\0"
                                 "34",
                                 3);
        break;
    case K::Gzip:
        reply.body = gzipEncoded(reply.body);
        reply.headers.append({QByteArray("Content-Encoding"), QByteArray("gzip")});
        break;
    case K::Deflate:
        reply.body = deflateEncoded(reply.body);
        reply.headers.append({QByteArray("Content-Encoding"), QByteArray("deflate")});
        break;
    default:
        break; // the connection carries out the rest
    }
    return reply;
}

} // namespace

JobBoard::JobBoard(Options options, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_server(BoardTls::makeServer(m_options.tls))
    , m_nextId(m_options.firstId) {
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, &JobBoard::acceptConnections);
}

JobBoard::~JobBoard() = default;

bool JobBoard::listen(QString *errorMessage) {
    if (!m_options.recordFile.isEmpty()) {
        m_record = std::make_unique<QFile>(m_options.recordFile);
        if (!m_record->open(QIODevice::WriteOnly | QIODevice::Append)) {
            *errorMessage =
                QStringLiteral("cannot open %1: %2").arg(m_options.recordFile, m_record->errorString());
            return false;
        }
    }
    if (!m_server->listen(QHostAddress::LocalHost, m_options.port)) {
        *errorMessage = m_server->errorString();
        return false;
    }
    return true;
}

void JobBoard::acceptConnections() {
    while (QTcpSocket *socket = m_server->nextPendingConnection())
        new BoardConnection(socket, this); // deletes itself once the socket has gone
}

BoardReply JobBoard::answer(const BoardRequest &request) {
    if (request.path == ImportPath) {
        if (request.method != "POST")
            return methodNotAllowed("POST");
        return answerPosting(request);
    }
    if (request.path == PostingsPath || request.path == ConnectionsPath) {
        if (request.method != "GET")
            return methodNotAllowed("GET");
        const QJsonDocument list =
            request.path == PostingsPath
                ? QJsonDocument(m_postings)
                : QJsonDocument(
                      QJsonObject{{QStringLiteral("opened"), m_connectionsOpened},
                                  {QStringLiteral("open"), m_openConnections},
                                  {QStringLiteral("mostAnswering"), m_mostAnswering},
                                  {QStringLiteral("mostAnsweringUnavailable"), m_mostAnsweringUnavailable},
                                  {QStringLiteral("unavailableAnswered"), m_unavailableAnswered}});
        BoardReply reply = plainReply(200, list.toJson(QJsonDocument::Compact));
        reply.contentType = "application/json";
        return reply;
    }
    if (request.path == OutagePath) {
        if (request.method != "POST")
            return methodNotAllowed("POST");
        return startOutage(request);
    }
    return plainReply(404, "not found");
}

// Refuses connections for a while (the port is closed; open connections stay), then answers the next
// postings 503 with Retry-After, then takes postings again: a board down and coming back.
BoardReply JobBoard::startOutage(const BoardRequest &request) {
    const QUrlQuery query(QString::fromLatin1(request.query));
    bool refuseOk = false;
    bool unavailableOk = false;
    const int refuseMs = query.queryItemValue(QStringLiteral("refuse")).toInt(&refuseOk);
    const int unavailable = query.queryItemValue(QStringLiteral("unavailable")).toInt(&unavailableOk);
    bool delayOk = true;
    const QString delay = query.queryItemValue(QStringLiteral("delay"));
    const int delayMs = delay.isEmpty() ? 0 : delay.toInt(&delayOk);
    if (!refuseOk || !unavailableOk || !delayOk || refuseMs < 0 || refuseMs > 600000 || unavailable < 0 ||
        delayMs < 0 || delayMs > 600000)
        return plainReply(400, "outage needs refuse=MS (0 to 600000) and unavailable=N, and takes delay=MS");
    m_unavailable = unavailable;
    m_unavailableDelayMs = delayMs;
    const quint16 port = m_server->serverPort();
    m_server->close();
    QTimer::singleShot(refuseMs, this, [this, port] {
        if (!m_server->listen(QHostAddress::LocalHost, port))
            qCWarning(lcBoard) << "cannot listen again on" << port << m_server->errorString();
    });
    qCDebug(lcBoard) << "outage: refusing connections for" << refuseMs << "ms, then" << unavailable << "503s";
    return plainReply(200, "outage");
}

void JobBoard::answeringStarted(bool unavailable) {
    m_mostAnswering = std::max(m_mostAnswering, ++m_answering);
    if (unavailable) {
        ++m_unavailableAnswered;
        m_mostAnsweringUnavailable = std::max(m_mostAnsweringUnavailable, ++m_answeringUnavailable);
    }
}

void JobBoard::answeringEnded(bool unavailable) {
    --m_answering;
    if (unavailable)
        --m_answeringUnavailable;
}

qint64 JobBoard::connectionOpened() {
    ++m_openConnections;
    return ++m_connectionsOpened;
}

BoardReply JobBoard::answerPosting(const BoardRequest &request) {
    // An unavailable board keeps nothing of what it refuses.
    if (m_unavailable > 0) {
        --m_unavailable;
        BoardReply reply = plainReply(503, "unavailable");
        reply.headers.append({QByteArray("Retry-After"), QByteArray(OutageRetryAfter)});
        reply.unavailable = true;
        if (m_unavailableDelayMs > 0)
            reply.fault = {BoardFault::Kind::Delay, m_unavailableDelayMs, 0, {}};
        return reply;
    }
    const Listing listing = Listing::parse(request.body);
    QJsonObject posting = postingRecord(request);
    if (!listing.isValid()) {
        const BoardReply reply = refusal(posting, listing.error);
        keep(posting);
        qCDebug(lcBoard) << "unreadable posting:" << listing.error;
        return reply;
    }
    recordListing(posting, listing);

    const std::optional<QString> faultName = listing.field(FaultField);
    const std::optional<BoardFault> requested =
        faultName ? BoardFault::parse(*faultName) : std::optional<BoardFault>(m_options.fault);
    if (!requested) {
        const BoardReply reply = refusal(posting, QStringLiteral("unknown board fault %1").arg(*faultName));
        keep(posting);
        return reply;
    }
    if (faultName)
        posting.insert(QStringLiteral("fault"), *faultName);
    const BoardFault fault = faultFor(*requested, request);

    QString jobId;
    if (listing.action == QLatin1StringView("Add") && faultCarriesJobId(fault.kind)) {
        jobId = QString::number(m_nextId++);
        posting.insert(QStringLiteral("jobId"), jobId);
    }
    keep(posting);
    return replyFor(fault, jobId);
}

void JobBoard::keep(const QJsonObject &posting) {
    m_postings.append(posting);
    if (m_record) {
        m_record->write(QJsonDocument(posting).toJson(QJsonDocument::Compact) + '\n');
        m_record->flush();
    }
}

} // namespace Orvex
