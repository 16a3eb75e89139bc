#pragma once

#include <chrono>

// How long one posting's exchange with the board may take. Here, below every layer, because the server
// enforces these limits and the client library derives from them how long it waits for a call.
namespace Orvex::ExchangeLimits {

// Long enough for a slow host, short enough that an address that never answers fails within a minute.
inline constexpr std::chrono::seconds DefaultConnectTimeout{60};
// The whole exchange. Long enough for a slow board to take a large listing; short enough that a board
// that drips its reply cannot hold the server's one queue, and every client waiting in it, for long.
inline constexpr std::chrono::seconds DefaultTimeout{300};
// The largest Timeout= and ConnectTimeout= a deployment may set: an hour is no longer a time limit.
inline constexpr std::chrono::seconds MaxTimeout{3600};
// The longest a posting's tries may go on (RetryFor=), read with the same bound as Timeout=. A call then
// lasts at most this plus one exchange.
inline constexpr std::chrono::seconds MaxRetryFor = MaxTimeout;
// What a client allows beyond the server's limit for the bus, the log and the queue's own work.
inline constexpr std::chrono::seconds CallMargin{30};
// How long a client waits for one posting call: the whole exchange, the server's tries while the board is
// down, and the margin. Beyond it the server is stuck and the call's outcome is unknown.
inline constexpr std::chrono::milliseconds PostingCallTimeout = MaxRetryFor + MaxTimeout + CallMargin;
// How often a client sends a call again that a server certainly never ran (it ended first, released by
// another client). Clients finishing one after another each end a server: eight batches side by side can
// make a listing meet seven endings in a row. The bound stops a server that dies as it starts from having
// each call start servers without end.
inline constexpr int MostSends = 10;

} // namespace Orvex::ExchangeLimits
