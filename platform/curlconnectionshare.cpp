#include "curlconnectionshare.h"

#include "httplogging.h"

#include <QHash>
#include <QUrl>

#include <algorithm>
#include <stdexcept>

namespace Orvex {

namespace {

// One share per thread, made with the thread's first reusing transfer and cleaned up when the thread ends,
// when no handle uses it any more. libcurl cannot share connections between concurrent threads, so
// postings in flight side by side each keep a connection of their own. Only its own thread ever uses a
// share, one transfer at a time, so it needs no locks.
class Share {
public:
    Share()
        : m_share(curl_share_init()) {
        if (!m_share)
            return;
        for (curl_lock_data data : {CURL_LOCK_DATA_CONNECT, CURL_LOCK_DATA_SSL_SESSION, CURL_LOCK_DATA_DNS})
            curl_share_setopt(m_share, CURLSHOPT_SHARE, data);
    }
    ~Share() {
        if (m_share)
            curl_share_cleanup(m_share);
    }
    Share(const Share &) = delete;
    Share &operator=(const Share &) = delete;

    CURLSH *handle() const { return m_share; }

    // The Keep-Alive timeout each board origin last announced.
    long announcedTimeout(const QByteArray &origin) const { return m_timeouts.value(origin, -1); }
    void setAnnouncedTimeout(const QByteArray &origin, long seconds) {
        if (seconds < 0)
            m_timeouts.remove(origin);
        else
            m_timeouts.insert(origin, seconds);
    }

private:
    CURLSH *m_share;
    QHash<QByteArray, long> m_timeouts;
};

Share &threadShare() {
    thread_local Share share;
    return share;
}

QByteArray originOf(const QByteArray &url) {
    const QUrl parsed = QUrl::fromEncoded(url);
    return parsed.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo)
        .toEncoded();
}

template<typename Value> void setShareOption(CURL *handle, CURLoption option, Value value) {
    if (curl_easy_setopt(handle, option, value) != CURLE_OK)
        throw std::runtime_error("libcurl refused a connection option");
}

} // namespace

CurlConnectionShare::CurlConnectionShare(CURL *handle, bool reuse)
    : m_handle(handle) {
    if (!reuse)
        return;
    Share &share = threadShare();
    if (!share.handle()) {
        qCDebug(lcHttp) << "no libcurl share object; this posting has a connection of its own";
        return;
    }
    setShareOption(handle, CURLOPT_SHARE, share.handle());
    m_joined = true;
}

void CurlConnectionShare::aimAt(const QByteArray &url) {
    if (!m_joined)
        return;
    m_origin = originOf(url);
    const long maxAge = maxAgeFor(threadShare().announcedTimeout(m_origin));
    setShareOption(m_handle, CURLOPT_FRESH_CONNECT, maxAge < 0 ? 1L : 0L);
    setShareOption(m_handle, CURLOPT_MAXAGE_CONN, std::max(maxAge, 0L));
}

CurlConnectionShare::~CurlConnectionShare() {
    // The handle leaves the share before it is cleaned up; its connection stays in the share's cache.
    if (m_joined)
        curl_easy_setopt(m_handle, CURLOPT_SHARE, static_cast<CURLSH *>(nullptr));
}

void CurlConnectionShare::noteReply() {
    if (!m_joined)
        return;
    curl_header *header = nullptr;
    const long timeout = curl_easy_header(m_handle, "Keep-Alive", 0, CURLH_HEADER, -1, &header) == CURLHE_OK
                             ? announcedTimeout(QByteArray(header->value))
                             : -1;
    threadShare().setAnnouncedTimeout(m_origin, timeout);
}

long CurlConnectionShare::maxAgeFor(long announcedTimeoutSeconds) {
    // CURLOPT_MAXAGE_CONN(3): "the maximum time in seconds that you allow an existing connection to have
    // been idle to be considered for reuse". libcurl 7.88 compares whole seconds (lib/url.c, conn_maxage:
    // "idletime /= 1000; ... if(idletime > data->set.maxage_conn)"), so a connection idle for less than N
    // seconds takes N - 1.
    long limit = long(MaxIdle.count());
    if (announcedTimeoutSeconds >= 0)
        limit = std::min(limit, announcedTimeoutSeconds);
    return limit - 1;
}

long CurlConnectionShare::announcedTimeout(const QByteArray &keepAliveValue) {
    for (const QByteArray &parameter : keepAliveValue.split(',')) {
        const QByteArray trimmed = parameter.trimmed();
        const qsizetype equals = trimmed.indexOf('=');
        if (equals < 0 || trimmed.left(equals).trimmed().toLower() != "timeout")
            continue;
        bool ok = false;
        const long seconds = trimmed.mid(equals + 1).trimmed().toLong(&ok);
        return ok && seconds >= 0 ? seconds : -1;
    }
    return -1;
}

} // namespace Orvex
