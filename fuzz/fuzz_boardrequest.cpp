// The reference board's side of a request: the head as the connection parses it, then the answer the
// board gives to the whole request, listing document and fault included.
// Input: the raw request bytes, head and body.

#include "fuzzsupport.h"

#include "jobboard.h"
#include "listing.h"
#include "requestparser.h"

#include <QCoreApplication>

namespace {

using Orvex::Fuzz::require;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    Orvex::Fuzz::silenceLogging();
    static QCoreApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype headEnd = bytes.indexOf("\r\n\r\n");
    if (headEnd < 0) {
        // No head: the input is a listing document alone.
        Orvex::Listing::parse(bytes);
        return 0;
    }

    Orvex::BoardRequest request;
    qint64 bodyLength = -1;
    if (const std::optional<Orvex::BoardReply> refusal =
            Orvex::parseRequestHead(bytes.left(headEnd), &request, &bodyLength)) {
        require(refusal->status >= 400 && refusal->status < 600 && !refusal->body.isEmpty(),
                "a refused head gets an error status and a reason");
        return 0;
    }
    require(bodyLength >= 0, "an accepted head has a body length");
    const QByteArray body = bytes.mid(headEnd + 4);
    if (body.size() < bodyLength)
        return 0; // the connection waits for the rest
    request.body = body.left(bodyLength);

    Orvex::JobBoard board(Orvex::JobBoard::Options{});
    const Orvex::BoardReply reply = board.answer(request);
    require(reply.status >= 100 && reply.status <= 999, "the board answers with a status");
    return 0;
}
