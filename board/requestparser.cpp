#include "requestparser.h"

namespace Orvex {

namespace {

// Above the largest listing the component takes (64 MiB of text, mostly single bytes on the wire); stops a
// body that would exhaust memory.
constexpr qint64 MaxBodyBytes = 128 * 1024 * 1024;

BoardReply refused(int status, const QByteArray &body) {
    BoardReply reply;
    reply.status = status;
    reply.body = body;
    return reply;
}

// The path of a target in origin form ("/p?q") or absolute form ("http://host/p?q", as sent to a proxy).
void splitTarget(const QByteArray &target, QByteArray *path, QByteArray *query) {
    QByteArray rest = target;
    const qsizetype schemeEnd = rest.indexOf("://");
    if (schemeEnd > 0 && !rest.startsWith('/')) {
        const qsizetype pathStart = rest.indexOf('/', schemeEnd + 3);
        rest = pathStart < 0 ? QByteArray("/") : rest.mid(pathStart);
    }
    const qsizetype questionMark = rest.indexOf('?');
    *path = questionMark < 0 ? rest : rest.left(questionMark);
    *query = questionMark < 0 ? QByteArray() : rest.mid(questionMark + 1);
}

} // namespace

std::optional<BoardReply> parseRequestHead(const QByteArray &head, BoardRequest *request,
                                           qint64 *bodyLength) {
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() != 3 || !requestLine.at(2).startsWith("HTTP/1."))
        return refused(400, "bad request line");
    request->method = requestLine.at(0);
    request->target = requestLine.at(1);
    request->version = requestLine.at(2);
    splitTarget(request->target, &request->path, &request->query);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return refused(400, "bad header line");
        request->headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
    }

    if (request->headers.contains("transfer-encoding"))
        return refused(501, "transfer codings are not supported; send a Content-Length");
    const QByteArray lengthText = request->headers.value("content-length");
    if (lengthText.isEmpty()) {
        if (request->method == "POST")
            return refused(411, "Content-Length required");
        *bodyLength = 0;
        return std::nullopt;
    }
    bool ok = false;
    *bodyLength = lengthText.toLongLong(&ok);
    if (!ok || *bodyLength < 0)
        return refused(400, "bad Content-Length");
    if (*bodyLength > MaxBodyBytes)
        return refused(413, "body too large");
    return std::nullopt;
}

} // namespace Orvex
