#include "curlhttprequest.h"

#include "automationerror.h"
#include "curlbodysource.h"
#include "curlcastore.h"
#include "curlconnectionshare.h"
#include "errortable.h"
#include "httplogging.h"
#include "identity.h"
#include "urltext.h"

#include <QFile>
#include <QStringDecoder>
#include <QUrl>

#include <curl/curl.h>
#include <openssl/ssl.h>

#include <optional>

namespace Orvex {

namespace {

using std::chrono::milliseconds;

struct CurlEasyDeleter {
    void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;

struct CurlSlistDeleter {
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};
using CurlHeaderList = std::unique_ptr<curl_slist, CurlSlistDeleter>;

// libcurl's process-wide set-up must run once before the first handle, and is not thread-safe itself;
// a function-local static gives both.
class CurlGlobal {
public:
    CurlGlobal()
        : m_result(curl_global_init(CURL_GLOBAL_DEFAULT)) {}
    ~CurlGlobal() {
        if (m_result == CURLE_OK)
            curl_global_cleanup();
    }
    CURLcode result() const { return m_result; }

private:
    CURLcode m_result;
};

CURLcode ensureCurlGlobal() {
    static const CurlGlobal global;
    return global.result();
}

AutomationError httpError(qint32 number, const QString &description) {
    return AutomationError(number, QString::fromUtf16(CurlHttpRequest::ErrorSource), description);
}

// Where the reply body collects; refuses to grow past the cap so a huge reply aborts early.
struct ReplySink {
    QByteArray *body = nullptr;
    qint64 limit = 0;
    bool tooLarge = false;
};

size_t appendToReply(char *data, size_t size, size_t count, void *userData) {
    auto *sink = static_cast<ReplySink *>(userData);
    const size_t bytes = size * count;
    if (qint64(sink->body->size()) + qint64(bytes) > sink->limit) {
        sink->tooLarge = true;
        return 0; // anything but `bytes` makes libcurl abort with CURLE_WRITE_ERROR
    }
    sink->body->append(data, qsizetype(bytes));
    return bytes;
}

qint32 errorNumberFor(CURLcode code) {
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return ErrorNumber::NameNotResolved;
    case CURLE_COULDNT_CONNECT:
        return ErrorNumber::CannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
        return ErrorNumber::TimedOut;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
        return ErrorNumber::ConnectionReset;
    case CURLE_FILESIZE_EXCEEDED:
        return ErrorNumber::ReplyTooLarge;
    case CURLE_TOO_MANY_REDIRECTS:
        return ErrorNumber::RedirectFailed;
    case CURLE_URL_MALFORMAT:
        return ErrorNumber::InvalidUrl;
    case CURLE_UNSUPPORTED_PROTOCOL: // a peer that answered without an HTTP status line (HTTP/0.9 is refused)
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return ErrorNumber::InvalidServerResponse;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return ErrorNumber::SecureChannelError;
    default:
        return ErrorNumber::Unspecified;
    }
}

template<typename Value> void setOption(CURL *handle, CURLoption option, Value value) {
    const CURLcode result = curl_easy_setopt(handle, option, value);
    if (result != CURLE_OK)
        throw httpError(ErrorNumber::Unspecified, QString::fromUtf8(curl_easy_strerror(result)));
}

// Debian's libcurl has its CA file compiled in and reads no variable, so the usual ones are applied here.
QByteArray caFileFromEnvironment() {
    for (const char *name : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
        QByteArray file = qgetenv(name);
        if (!file.isEmpty())
            return file;
    }
    return {};
}

QByteArray charsetOf(const QByteArray &contentType) {
    const QList<QByteArray> parameters = contentType.split(';');
    for (qsizetype i = 1; i < parameters.size(); ++i) {
        const QByteArray parameter = parameters.at(i).trimmed();
        const qsizetype equals = parameter.indexOf('=');
        if (equals < 0 || parameter.left(equals).trimmed().toLower() != "charset")
            continue;
        QByteArray value = parameter.mid(equals + 1).trimmed();
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
        return value;
    }
    return {};
}

CurlEasy newTransferHandle() {
    if (ensureCurlGlobal() != CURLE_OK)
        throw httpError(ErrorNumber::Unspecified, QStringLiteral("libcurl could not be initialised"));
    CurlEasy handle(curl_easy_init());
    if (!handle)
        throw httpError(ErrorNumber::Unspecified,
                        QStringLiteral("libcurl could not create a transfer handle"));
    return handle;
}

// The easy handle of one transfer. A thread's transfers follow each other, so with kept connections they
// take turns with one handle of the thread's: libcurl's set-up of a handle (its multi handle and wake-up
// socket pair) is made once per thread, not once per posting. Without reuse a transfer has a handle of its
// own, and its connection ends with it.
class TransferHandle {
public:
    explicit TransferHandle(bool keep) {
        Kept &kept = threadHandle();
        if (!keep || kept.inUse) {
            m_own = newTransferHandle();
            m_handle = m_own.get();
            return;
        }
        if (!kept.handle)
            kept.handle = newTransferHandle();
        kept.inUse = true;
        m_handle = kept.handle.get();
    }
    ~TransferHandle() {
        if (m_own)
            return;
        // Nothing of this transfer stays set: its buffers and lists are gone.
        curl_easy_reset(m_handle);
        threadHandle().inUse = false;
    }
    Q_DISABLE_COPY_MOVE(TransferHandle)

    CURL *get() const { return m_handle; }

private:
    struct Kept {
        CurlEasy handle;
        bool inUse = false;
    };
    static Kept &threadHandle() {
        thread_local Kept kept;
        return kept;
    }

    CurlEasy m_own;
    CURL *m_handle = nullptr;
};

// What the TLS handshakes of a transfer showed, as OpenSSL reports their messages.
struct TlsWitness {
    bool certificateRequested = false;
};

void noteHandshakeMessage(int written, int, int contentType, const void *message, size_t length, SSL *,
                          void *witness) {
    if (!written && contentType == SSL3_RT_HANDSHAKE && length > 0 &&
        *static_cast<const unsigned char *>(message) == SSL3_MT_CERTIFICATE_REQUEST)
        static_cast<TlsWitness *>(witness)->certificateRequested = true;
}

// Everything libcurl reads from or writes into while one transfer runs. libcurl keeps pointers into it,
// so it stays where it was made until the transfer is over.
struct Transfer {
    // The body is shared, not copied: a document may be tens of MiB.
    Transfer(const QByteArray &bodyBytes, qint64 maxReplyBytes, bool keepHandle)
        : handle(keepHandle)
        , body(bodyBytes)
        , sink{&reply, maxReplyBytes, false} {}
    Q_DISABLE_COPY_MOVE(Transfer)

    CURL *curl() const { return handle.get(); }

    TransferHandle handle;
    // Leaves the shared connections before the handle is cleaned up.
    std::optional<CurlConnectionShare> connections;
    CurlBodySource body;
    QByteArray agent = CurlHttpRequest::userAgent();
    QByteArray caFile = caFileFromEnvironment();
    CurlHeaderList headers;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    QByteArray reply;
    ReplySink sink;
    TlsWitness tls;
    CurlCaStore::Sources caSources; // loaded at the first TLS context only
    // Set where a request failed after libcurl took body bytes for it: the board may hold the listing.
    bool failedAfterBody = false;
};

// Every new TLS context of the transfer: its handshakes watched, and the process's CA store where there is
// one.
CURLcode prepareTlsContext(CURL *, void *context, void *transfer) {
    auto *self = static_cast<Transfer *>(transfer);
    SSL_CTX_set_msg_callback(static_cast<SSL_CTX *>(context), &noteHandshakeMessage);
    SSL_CTX_set_msg_callback_arg(static_cast<SSL_CTX *>(context), &self->tls);
    return CurlCaStore::install(context, self->caSources);
}

CurlHeaderList headerList(std::initializer_list<const char *> lines) {
    CurlHeaderList headers;
    for (const char *line : lines) {
        curl_slist *extended = curl_slist_append(headers.get(), line);
        if (!extended)
            throw httpError(ErrorNumber::Unspecified,
                            QStringLiteral("Out of memory building the request headers"));
        (void)headers.release(); // now owned by `extended`
        headers.reset(extended);
    }
    return headers;
}

void setTransportOptions(Transfer &transfer, const HttpSettings &settings, const HttpLimits &limits) {
    CURL *curl = transfer.curl();
    setOption(curl, CURLOPT_ERRORBUFFER, transfer.errorBuffer);
    setOption(curl, CURLOPT_NOSIGNAL, 1L);
    setOption(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    // Redirects are followed here, one exchange at a time, so that each is judged before it is taken.
    setOption(curl, CURLOPT_FOLLOWLOCATION, 0L);
    setOption(curl, CURLOPT_CONNECTTIMEOUT_MS, long(milliseconds(settings.connectTimeout).count()));
    setOption(curl, CURLOPT_LOW_SPEED_LIMIT, limits.stallBytesPerSecond);
    setOption(curl, CURLOPT_LOW_SPEED_TIME, long(limits.stallTime.count()));
    setOption(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(limits.maxReplyBytes));
    setOption(curl, CURLOPT_USERAGENT, transfer.agent.constData());
    // Every encoding this libcurl can decode (gzip and deflate at least); the reply cap counts decoded bytes.
    setOption(curl, CURLOPT_ACCEPT_ENCODING, "");
    setOption(curl, CURLOPT_WRITEFUNCTION, &appendToReply);
    setOption(curl, CURLOPT_WRITEDATA, &transfer.sink);
}

// Always verified: the board's (and an https proxy's) certificate chain and host name.
void setVerificationOptions(Transfer &transfer) {
    CURL *curl = transfer.curl();
    setOption(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    setOption(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    setOption(curl, CURLOPT_PROXY_SSL_VERIFYPEER, 1L);
    setOption(curl, CURLOPT_PROXY_SSL_VERIFYHOST, 2L);
    transfer.caSources = CurlCaStore::apply(curl, transfer.caFile);
}

// The board may ask who is posting; a certificate without a key file holds its key itself.
void setClientCertificateOptions(Transfer &transfer, const HttpSettings &settings) {
    CURL *curl = transfer.curl();
    // Whether the board asked for a certificate tells a refused one from a lost connection. A libcurl on
    // another TLS library cannot say: the failure is then reported as libcurl sees it.
    if (curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, &prepareTlsContext) == CURLE_OK)
        setOption(curl, CURLOPT_SSL_CTX_DATA, &transfer);
    if (!settings.clientCertificate.isEmpty()) {
        setOption(curl, CURLOPT_SSLCERT, QFile::encodeName(settings.clientCertificate).constData());
        setOption(curl, CURLOPT_SSLCERTTYPE, "PEM");
    }
    if (!settings.clientKey.isEmpty()) {
        setOption(curl, CURLOPT_SSLKEY, QFile::encodeName(settings.clientKey).constData());
        setOption(curl, CURLOPT_SSLKEYTYPE, "PEM");
    }
}

void setMethodOptions(Transfer &transfer, const QByteArray &method) {
    CURL *curl = transfer.curl();
    CurlHeaderList headers;
    if (method == "POST") {
        // An empty Expect header stops libcurl from waiting for a 100 Continue that many boards never send.
        headers = headerList({"Content-Type: text/xml; charset=ISO-8859-1", "Expect:"});
        transfer.body.attachTo(curl);
    } else {
        setOption(curl, CURLOPT_HTTPGET, 1L);
    }
    setOption(curl, CURLOPT_HTTPHEADER, headers.get());
    transfer.headers = std::move(headers); // the list in use before is no longer referred to
}

long responseCodeOf(CURL *curl) {
    long responseCode = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &responseCode);
    return responseCode;
}

QByteArray contentTypeOf(CURL *curl) {
    const char *contentType = nullptr;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &contentType);
    return QByteArray(contentType);
}

long proxyConnectCodeOf(CURL *curl) {
    long connectCode = 0;
    curl_easy_getinfo(curl, CURLINFO_HTTP_CONNECTCODE, &connectCode);
    return connectCode;
}

bool isConnectionFailure(CURLcode result) {
    return result == CURLE_SSL_CONNECT_ERROR || result == CURLE_RECV_ERROR || result == CURLE_SEND_ERROR ||
           result == CURLE_GOT_NOTHING;
}

// A board that asked for a client certificate and then dropped the connection before any answer did not
// take the certificate presented, or wanted one where none was.
std::optional<QString> refusedClientCertificate(const Transfer &transfer, CURLcode result,
                                                const QString &certificate) {
    if (!transfer.tls.certificateRequested || !isConnectionFailure(result) ||
        responseCodeOf(transfer.curl()) != 0)
        return std::nullopt;
    if (certificate.isEmpty())
        return QStringLiteral("The server asks for a client certificate, and none is set");
    return QStringLiteral("The server did not accept the client certificate %1").arg(certificate);
}

qint32 errorNumberOf(const Transfer &transfer, CURLcode result) {
    // A proxy that answers CONNECT with anything but 2xx refused the tunnel (403) or wants credentials (407).
    const long connectCode = proxyConnectCodeOf(transfer.curl());
    if (connectCode >= 300)
        return ErrorNumber::ProxyRefused;
    // A TLS peer that refuses the handshake after it is done (TLS 1.3 refuses a missing client certificate
    // so) ends the connection with an alert, which libcurl reports as a failed read or write.
    const bool alert = QByteArrayView(transfer.errorBuffer).contains(" alert ");
    if ((result == CURLE_RECV_ERROR || result == CURLE_SEND_ERROR) && alert)
        return ErrorNumber::SecureChannelError;
    return errorNumberFor(result);
}

AutomationError transferFailure(const Transfer &transfer, CURLcode result, const HttpSettings &settings,
                                qint64 maxReplyBytes) {
    if (transfer.body.resendRefused()) {
        qCDebug(lcHttp) << "the connection closed after the body was sent:" << int(result);
        return httpError(ErrorNumber::ClosedAfterSending,
                         AutomationError::runtimeDescription(ErrorNumber::ClosedAfterSending));
    }
    if (transfer.sink.tooLarge || result == CURLE_FILESIZE_EXCEEDED) {
        qCDebug(lcHttp) << "reply exceeds" << maxReplyBytes << "bytes";
        return httpError(ErrorNumber::ReplyTooLarge,
                         QStringLiteral("The reply is larger than %1 bytes").arg(maxReplyBytes));
    }
    const QString description =
        withoutUserInfo(transfer.errorBuffer[0] != '\0' ? QString::fromLocal8Bit(transfer.errorBuffer)
                                                        : QString::fromUtf8(curl_easy_strerror(result)));
    qCDebug(lcHttp) << "transfer failed:" << int(result) << description;
    if (const std::optional<QString> refusal =
            refusedClientCertificate(transfer, result, settings.clientCertificate))
        return httpError(ErrorNumber::SecureChannelError,
                         *refusal + QStringLiteral(" (") + description + u')');
    return httpError(errorNumberOf(transfer, result), description);
}

// The time left of the exchange, for the next request of it; none left is a timeout like libcurl's own.
milliseconds timeLeft(std::chrono::steady_clock::time_point deadline, std::chrono::seconds timeout) {
    const auto left = std::chrono::ceil<milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left <= milliseconds::zero())
        throw httpError(ErrorNumber::TimedOut,
                        QStringLiteral("The exchange took longer than %1 seconds").arg(timeout.count()));
    return left;
}

void performTransfer(Transfer &transfer, milliseconds timeLimit, const HttpSettings &settings,
                     qint64 maxReplyBytes) {
    setOption(transfer.curl(), CURLOPT_TIMEOUT_MS, long(timeLimit.count()));
    // Only the last reply of a chain of redirects counts.
    transfer.reply.clear();
    const CURLcode result = curl_easy_perform(transfer.curl());
    if (result != CURLE_OK) {
        transfer.failedAfterBody = transfer.body.bodyLeft();
        throw transferFailure(transfer, result, settings, maxReplyBytes);
    }
    transfer.connections->noteReply();
}

// The header lines of the last reply of the chain, as libcurl parsed them.
QList<std::pair<QByteArray, QByteArray>> replyHeadersOf(CURL *curl) {
    QList<std::pair<QByteArray, QByteArray>> headers;
    curl_header *previous = nullptr;
    while (curl_header *header = curl_easy_nextheader(curl, CURLH_HEADER, -1, previous)) {
        headers.append({QByteArray(header->name), QByteArray(header->value)});
        previous = header;
    }
    return headers;
}

bool isFollowedRedirect(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Where a redirect points, resolved against the URL it came from; nothing when the reply is no redirect.
std::optional<QByteArray> redirectTarget(CURL *curl, long status) {
    const char *location = nullptr;
    if (!isFollowedRedirect(status) ||
        curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location) != CURLE_OK || !location)
        return std::nullopt;
    return QByteArray(location);
}

// A redirect is followed only to http or https, and never from https down to plain http: the listing may
// hold passwords and must not leave the encrypted channel it was sent on.
void checkRedirect(const QByteArray &from, const QByteArray &to) {
    const QString scheme = QUrl(QString::fromUtf8(to)).scheme().toLower();
    const QString target = withoutUserInfo(QString::fromUtf8(to));
    if (scheme != u"http" && scheme != u"https")
        throw httpError(ErrorNumber::RedirectFailed,
                        QStringLiteral("The redirect to \"%1\" is neither http nor https").arg(target));
    if (scheme == u"http" && QUrl(QString::fromUtf8(from)).scheme().toLower() == u"https")
        throw httpError(
            ErrorNumber::HttpsToHttpRedirect,
            QStringLiteral("The redirect from https to the plain http location \"%1\" was refused")
                .arg(target));
}

// Sends the request and follows its redirects, each judged before it is taken, until a reply that is no
// redirect; all of it within the settings' time limit.
void exchange(Transfer &transfer, QByteArray method, QByteArray url, const HttpSettings &settings,
              const HttpLimits &limits) {
    const auto deadline = std::chrono::steady_clock::now() + settings.timeout;
    qCDebug(lcHttp) << "sending" << method << withoutUserInfo(QString::fromUtf8(url)) << "with"
                    << transfer.body.size() << "body bytes";
    for (long redirects = 0;; ++redirects) {
        setOption(transfer.curl(), CURLOPT_URL, url.constData());
        transfer.connections->aimAt(url);
        setMethodOptions(transfer, method);
        performTransfer(transfer, timeLeft(deadline, settings.timeout), settings, limits.maxReplyBytes);

        const long status = responseCodeOf(transfer.curl());
        const std::optional<QByteArray> target = redirectTarget(transfer.curl(), status);
        if (!target)
            return;
        if (redirects == limits.maxRedirects)
            throw httpError(ErrorNumber::RedirectFailed,
                            QStringLiteral("More than %1 redirects").arg(limits.maxRedirects));
        checkRedirect(url, *target);
        // "See other" asks for the result with GET; every other redirect moves the request as it is.
        if (status == 303)
            method = "GET";
        qCDebug(lcHttp) << "following" << status << "to" << withoutUserInfo(QString::fromUtf8(*target))
                        << "with" << method;
        url = *target;
    }
}

QString withoutNul(QString text) {
    return text.replace(QChar(u'\0'), QChar(QChar::ReplacementCharacter));
}

} // namespace

CurlHttpRequest::CurlHttpRequest(HttpSettings settings, HttpLimits limits)
    : m_settings(std::move(settings))
    , m_limits(limits) {}

void CurlHttpRequest::open(const QString &method, const QString &url, bool async) {
    const QByteArray upperMethod = method.toUpper().toLatin1();
    if (upperMethod != "POST" && upperMethod != "GET")
        throw httpError(ErrorNumber::InvalidArgument,
                        QStringLiteral("The method \"%1\" is not supported; use GET or POST").arg(method));
    if (async)
        throw httpError(ErrorNumber::NotImplemented,
                        QStringLiteral("Only synchronous requests are supported"));

    if (const std::optional<UrlRefusal> refusal = importUrlRefusal(url))
        throw httpError(refusal->number, refusal->description);

    m_method = upperMethod;
    m_url = QUrl(url).toEncoded();
    m_readyState = 1;
    m_status = 0;
    m_reply.clear();
    m_contentType.clear();
    m_headers.clear();
    m_failedDelivery = DeliveryClass::NotSent;
}

void CurlHttpRequest::send(const QByteArray &body) {
    if (m_readyState != 1)
        throw httpError(ErrorNumber::Unexpected, QStringLiteral("send() needs a fresh call of open()"));
    Transfer transfer(body, m_limits.maxReplyBytes, m_settings.reuseConnection);
    transfer.connections.emplace(transfer.curl(), m_settings.reuseConnection);
    setTransportOptions(transfer, m_settings, m_limits);
    setVerificationOptions(transfer);
    setClientCertificateOptions(transfer, m_settings);
    try {
        exchange(transfer, m_method, m_url, m_settings, m_limits);
    } catch (...) {
        // Every other failure (a refused redirect, the time up between redirects) comes before this
        // request's body left or after a server answered for it.
        m_failedDelivery = transfer.failedAfterBody ? DeliveryClass::Unknown : DeliveryClass::NotSent;
        throw;
    }

    m_status = int(responseCodeOf(transfer.curl()));
    // Only a proxy answers 407: the board never saw the listing.
    if (m_status == 407)
        throw httpError(ErrorNumber::ProxyRefused,
                        QStringLiteral("The proxy asks for credentials (HTTP status 407)"));
    m_contentType = contentTypeOf(transfer.curl());
    m_headers = replyHeadersOf(transfer.curl());
    m_reply = std::move(transfer.reply);
    m_readyState = 4;
    qCDebug(lcHttp) << "status" << m_status << "with" << m_reply.size() << "reply bytes";
}

void CurlHttpRequest::requireCompleted() const {
    if (m_readyState != 4)
        throw httpError(ErrorNumber::Pending, QStringLiteral("The request has not completed"));
}

int CurlHttpRequest::status() const {
    requireCompleted();
    return m_status;
}

QString CurlHttpRequest::responseText() const {
    requireCompleted();
    return decodeReply(m_reply, m_contentType);
}

QString CurlHttpRequest::getResponseHeader(const QString &name) const {
    requireCompleted();
    const QByteArray wanted = name.toLatin1();
    for (auto header = m_headers.crbegin(); header != m_headers.crend(); ++header) {
        if (header->first.compare(wanted, Qt::CaseInsensitive) == 0)
            return QString::fromLatin1(header->second);
    }
    return QString();
}

QString CurlHttpRequest::decodeReply(const QByteArray &body, const QByteArray &contentType) {
    const QByteArray charset = charsetOf(contentType);
    if (!charset.isEmpty()) {
        QStringDecoder decoder(charset.constData());
        if (decoder.isValid())
            return withoutNul(decoder.decode(body));
        qCDebug(lcHttp) << "unknown reply charset" << charset << "- decoding as UTF-8";
    }
    const auto encoding = QStringConverter::encodingForData(body).value_or(QStringConverter::Utf8);
    QStringDecoder decoder(encoding);
    return withoutNul(decoder.decode(body));
}

QByteArray CurlHttpRequest::userAgent() {
    return QByteArrayLiteral("OrvexKelPostJob/") + Identity::VersionText;
}

bool CurlHttpRequest::setUpLibrary() {
    return ensureCurlGlobal() == CURLE_OK;
}

std::unique_ptr<HttpRequest> makeCurlHttpRequest(const HttpSettings &settings, HttpLimits limits) {
    return std::make_unique<CurlHttpRequest>(settings, limits);
}

HttpRequestFactory curlHttpRequestFactory(HttpLimits limits) {
    return [limits](const HttpSettings &settings) { return makeCurlHttpRequest(settings, limits); };
}

} // namespace Orvex
