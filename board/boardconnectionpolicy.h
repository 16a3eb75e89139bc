#pragma once

#include <optional>

namespace Orvex {

// How the board treats the connections clients keep open between requests. By default it keeps every
// HTTP/1.1 connection open until the client closes it, as real web servers do; the other settings put on
// the behaviours clients must survive.
struct ConnectionPolicy {
    // Off: "Connection: close" on every reply, and the connection closed after it.
    bool keepAlive = true;
    // Closes a connection that has been idle this many seconds, without a word beforehand.
    std::optional<int> idleTimeoutSeconds;
    // Announces "Keep-Alive: timeout=N" on every reply that keeps the connection (whatever it really does).
    std::optional<int> announcedTimeoutSeconds;
    // After this many answered requests on a connection, takes the next request (a posting is kept) and
    // closes the connection without answering: the race a client meets when a server closes a kept
    // connection just as the client sends on it.
    std::optional<int> dropAfterReplies;
};

} // namespace Orvex
