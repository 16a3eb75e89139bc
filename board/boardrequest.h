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
    QByteArray target; // as sent: origin form or absolute (proxy) form
    QByteArray path;   // without scheme, authority and query
    QByteArray query;
    QHash<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
};

// What the board answers; the connection carries out the transport-level part of a fault.
struct BoardReply {
    int status = 200;
    QByteArray contentType = "text/plain";
    QByteArray body;
    QList<std::pair<QByteArray, QByteArray>> headers;
    BoardFault fault;
};

} // namespace Orvex
