#pragma once

#include "boardfault.h"

#include <QByteArray>
#include <QHash>
#include <QList>

#include <utility>

namespace Orvex {

// One HTTP request as the board received it.
struct BoardRequest {
    QByteArray method;
    QByteArray version; // "HTTP/1.1", "HTTP/1.0"
    QByteArray target;  // as sent: origin form or absolute (proxy) form
    QByteArray path;    // without scheme, authority and query
    QByteArray query;
    QHash<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
    qint64 connection = 0; // the number of the connection it came on, 1 for the board's first
};

// What the board answers; the connection carries out the transport-level part of a fault.
struct BoardReply {
    int status = 200;
    QByteArray contentType = "text/plain";
    QByteArray body;
    QList<std::pair<QByteArray, QByteArray>> headers;
    BoardFault fault;
    bool unavailable = false; // a 503 of an outage
};

} // namespace Orvex
