#include "jobboard.h"

#include "boardconnection.h"
#include "boardlogging.h"
#include "boardtls.h"
#include "listing.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringEncoder>
#include <QUrl>
#include <QUrlQuery>

namespace {

constexpr char ImportPath[] = "/cgi-bin/importJobs_xml.cgi";
constexpr char PostingsPath[] = "/postings";
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
        return true;
    default:
        return false;
    }
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
    if (request.path == PostingsPath) {
        if (request.method != "GET")
            return methodNotAllowed("GET");
        BoardReply reply = plainReply(200, QJsonDocument(m_postings).toJson(QJsonDocument::Compact));
        reply.contentType = "application/json";
        return reply;
    }
    return plainReply(404, "not found");
}

BoardReply JobBoard::answerPosting(const BoardRequest &request) {
    const Listing listing = Listing::parse(request.body);

    QJsonObject posting{
        {QStringLiteral("target"), QString::fromLatin1(request.target)},
        {QStringLiteral("contentType"), QString::fromLatin1(request.headers.value("content-type"))},
        {QStringLiteral("userAgent"), QString::fromLatin1(request.headers.value("user-agent"))},
        {QStringLiteral("body"), QString::fromLatin1(request.body.toBase64())},
    };
    if (request.headers.contains("expect"))
        posting.insert(QStringLiteral("expect"), QString::fromLatin1(request.headers.value("expect")));

    BoardFault fault = m_options.fault;
    BoardReply reply;
    if (!listing.isValid()) {
        posting.insert(QStringLiteral("error"), listing.error);
        reply.body = failureReply(listing.error);
        keep(posting);
        qCDebug(lcBoard) << "unreadable posting:" << listing.error;
        return reply;
    }

    QJsonArray fields;
    for (const auto &[name, value] : listing.fields)
        fields.append(QJsonArray{name, value});
    posting.insert(QStringLiteral("action"), listing.action);
    posting.insert(QStringLiteral("fields"), fields);

    if (const std::optional<QString> faultName = listing.field(FaultField)) {
        const std::optional<BoardFault> requested = BoardFault::parse(*faultName);
        if (!requested) {
            const QString error = QStringLiteral("unknown board fault %1").arg(*faultName);
            posting.insert(QStringLiteral("error"), error);
            reply.body = failureReply(error);
            keep(posting);
            return reply;
        }
        fault = *requested;
        posting.insert(QStringLiteral("fault"), *faultName);
    }
    // The target of a redirect is answered normally, so a followed redirect ends somewhere.
    const bool redirected =
        QUrlQuery(QString::fromLatin1(request.query)).hasQueryItem(QStringLiteral("redirected"));
    if (redirected && (fault.kind == BoardFault::Kind::Redirect))
        fault = BoardFault{};

    QByteArray success = "success=1";
    QString jobId;
    if (listing.action == QLatin1StringView("Add") && faultCarriesJobId(fault.kind)) {
        jobId = QString::number(m_nextId++);
        posting.insert(QStringLiteral("jobId"), jobId);
    }
    keep(posting);

    using K = BoardFault::Kind;
    reply.fault = fault;
    reply.body = jobId.isEmpty() ? success : success + "&jobid=" + jobId.toLatin1();
    switch (fault.kind) {
    case K::Status:
        reply.status = fault.code;
        reply.body = fault.text;
        break;
    case K::Empty:
        reply.body.clear();
        break;
    case K::QuotedAmpersand:
        reply.body =
            jobId.isEmpty() ? "success=1&note=\"a&b\"" : "success=1&note=\"a&b\"&jobid=" + jobId.toLatin1();
        break;
    case K::TrailingCrLf:
        reply.body += "\r\n";
        break;
    case K::NoJobId:
        reply.body = success;
        break;
    case K::Failure:
        reply.body = "success=0&error=rejected";
        break;
    case K::RedirectLoop:
    case K::Redirect:
        reply.status = fault.kind == K::RedirectLoop ? 307 : fault.code;
        reply.headers.append({"Location", fault.kind == K::RedirectLoop
                                              ? QByteArray(ImportPath)
                                              : QByteArray(ImportPath) + "?redirected=1"});
        reply.body = "moved";
        break;
    case K::RedirectTo:
        reply.status = 302;
        reply.headers.append({"Location", fault.text});
        reply.body = "moved";
        break;
    case K::Charset: {
        const QString text = jobId.isEmpty() ? QStringLiteral("success=1&note=\u00e9\u20ac")
                                             : QStringLiteral("success=1&jobid=%1-\u00e9\u20ac").arg(jobId);
        QStringEncoder encoder(fault.text.constData());
        reply.body = encoder.isValid() ? QByteArray(encoder.encode(text)) : text.toUtf8();
        reply.contentType = "text/plain; charset=" + fault.text;
        break;
    }
    case K::Binary:
        reply.contentType = "application/octet-stream";
        reply.body.clear();
        for (int byte = 0; byte < 256; ++byte)
            reply.body.append(char(byte));
        break;
    default:
        break; // the connection carries out the rest
    }
    return reply;
}

void JobBoard::keep(const QJsonObject &posting) {
    m_postings.append(posting);
    if (m_record) {
        m_record->write(QJsonDocument(posting).toJson(QJsonDocument::Compact) + '\n');
        m_record->flush();
    }
}
