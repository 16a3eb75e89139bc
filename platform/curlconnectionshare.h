#pragma once

#include <QByteArray>

#include <curl/curl.h>

#include <chrono>

namespace Orvex {

// The board's connections kept between postings: one libcurl share object per thread holding the
// connection cache, the TLS sessions and the name lookups, which each posting's own easy handle joins. The
// postings of one thread follow each other, so a thread's share serves one transfer at a time.
class CurlConnectionShare {
public:
    // A kept connection is used again only while it has been idle for less than this. Below the shortest
    // keep-alive timeouts common servers apply (5 s in Apache httpd and Node.js), so a posting is not sent
    // on a connection the board is closing at that moment; a batch posts far closer together than this.
    static constexpr std::chrono::seconds MaxIdle{4};

    // The handle joins its thread's share for one transfer; a thread runs one transfer at a time, so no other
    // uses that share's connections meanwhile (libcurl: "it is not safe to share connections this way
    // between multiple concurrent threads"). Without reuse it does nothing, and the connection ends with it.
    CurlConnectionShare(CURL *handle, bool reuse);
    ~CurlConnectionShare();
    CurlConnectionShare(const CurlConnectionShare &) = delete;
    CurlConnectionShare &operator=(const CurlConnectionShare &) = delete;

    // Before each request of the transfer: how long a kept connection to url's origin may have been idle.
    void aimAt(const QByteArray &url);
    // After each request: keeps the board's "Keep-Alive: timeout=N", which bounds the next reuse.
    void noteReply();

    // The idle time allowed for reuse when the board announced timeoutSeconds (negative: none), in whole
    // seconds as CURLOPT_MAXAGE_CONN takes it; negative for no reuse at all.
    static long maxAgeFor(long announcedTimeoutSeconds);
    // N of "timeout=N" in a Keep-Alive header value; negative when it holds none.
    static long announcedTimeout(const QByteArray &keepAliveValue);

private:
    CURL *m_handle;
    QByteArray m_origin;
    bool m_joined = false;
};

} // namespace Orvex
