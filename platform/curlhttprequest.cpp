#include "curlhttprequest.h"

#include "automationerror.h"
#include "curlbodysource.h"
#include "curlcastore.h"
#include "curlconnectionshare.h"
#include "errortable.h"
#include "httplogging.h"
#include "identity.h"
#include "wireencoding.h"

#include <QStringDecoder>
#include <QUrl>

#include <curl/curl.h>

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

// Everything libcurl reads from or writes into while one transfer runs. libcurl keeps pointers into it,
// so it stays where it was made until the transfer is over.
struct Transfer {
    Transfer(const QString &text, qint64 maxReplyBytes)
        : handle(newTransferHandle())
        , body(toWireBytes(text))
        , sink{&reply, maxReplyBytes, false} {}
    Q_DISABLE_COPY_MOVE(Transfer)

    CURL *curl() const { return handle.get(); }

    CurlEasy handle;
    // Leaves the shared connections before the handle is cleaned up.
    std::optional<CurlConnectionShare> connections;
    CurlBodySource body;
    QByteArray agent = CurlHttpRequest::userAgent();
    QByteArray caFile = caFileFromEnvironment();
    CurlHeaderList headers;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    QByteArray reply;
    ReplySink sink;
};

void appendHeader(CurlHeaderList &headers, const char *header) {
    curl_slist *extended = curl_slist_append(headers.get(), header);
    if (!extended)
        throw httpError(ErrorNumber::Unspecified,
                        QStringLiteral("Out of memory building the request headers"));
    (void)headers.release(); // now owned by `extended`
    headers.reset(extended);
}

void setTransportOptions(Transfer &transfer, const QByteArray &url, const HttpSettings &settings,
                         const HttpLimits &limits) {
    CURL *curl = transfer.curl();
    setOption(curl, CURLOPT_URL, url.constData());
    setOption(curl, CURLOPT_ERRORBUFFER, transfer.errorBuffer);
    setOption(curl, CURLOPT_NOSIGNAL, 1L);
    setOption(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    setOption(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    setOption(curl, CURLOPT_FOLLOWLOCATION, 1L);
    setOption(curl, CURLOPT_MAXREDIRS, limits.maxRedirects);
    setOption(curl, CURLOPT_CONNECTTIMEOUT_MS, long(milliseconds(settings.connectTimeout).count()));
    setOption(curl, CURLOPT_TIMEOUT_MS, long(milliseconds(settings.timeout).count()));
    setOption(curl, CURLOPT_LOW_SPEED_LIMIT, limits.stallBytesPerSecond);
    setOption(curl, CURLOPT_LOW_SPEED_TIME, long(limits.stallTime.count()));
    setOption(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(limits.maxReplyBytes));
    setOption(curl, CURLOPT_USERAGENT, transfer.agent.constData());
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
    CurlCaStore::apply(curl, transfer.caFile);
}

void setMethodOptions(Transfer &transfer, const QByteArray &method) {
    CURL *curl = transfer.curl();
    if (method == "POST") {
        appendHeader(transfer.headers, "Content-Type: text/xml; charset=ISO-8859-1");
        // An empty Expect header stops libcurl from waiting for a 100 Continue that many boards never send.
        appendHeader(transfer.headers, "Expect:");
        transfer.body.attachTo(curl);
    } else {
        setOption(curl, CURLOPT_HTTPGET, 1L);
    }
    setOption(curl, CURLOPT_HTTPHEADER, transfer.headers.get());
}

void configureHandle(Transfer &transfer, const QByteArray &method, const QByteArray &url,
                     const HttpSettings &settings, const HttpLimits &limits) {
    transfer.connections.emplace(transfer.curl(), settings.reuseConnection, url);
    setTransportOptions(transfer, url, settings, limits);
    setVerificationOptions(transfer);
    setMethodOptions(transfer, method);
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

qint32 errorNumberOf(CURL *curl, CURLcode result) {
    if (result != CURLE_UNSUPPORTED_PROTOCOL)
        return errorNumberFor(result);
    // The URL's own scheme was checked in open(): this is either a redirect to another scheme or a peer
    // that answered without an HTTP status line (HTTP/0.9 is refused).
    return responseCodeOf(curl) / 100 == 3 ? ErrorNumber::RedirectFailed : ErrorNumber::InvalidServerResponse;
}

AutomationError transferFailure(const Transfer &transfer, CURLcode result, qint64 maxReplyBytes) {
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
    const qint32 number = errorNumberOf(transfer.curl(), result);
    const QString description = transfer.errorBuffer[0] != '\0'
                                    ? QString::fromLocal8Bit(transfer.errorBuffer)
                                    : QString::fromUtf8(curl_easy_strerror(result));
    qCDebug(lcHttp) << "transfer failed:" << int(result) << description;
    return httpError(number, description);
}

void performTransfer(Transfer &transfer, qint64 maxReplyBytes) {
    const CURLcode result = curl_easy_perform(transfer.curl());
    if (result != CURLE_OK)
        throw transferFailure(transfer, result, maxReplyBytes);
    transfer.connections->noteReply();
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

    const QUrl parsed(url);
    if (!parsed.isValid() || parsed.host().isEmpty())
        throw httpError(ErrorNumber::InvalidUrl, QStringLiteral("The URL \"%1\" is not valid").arg(url));
    const QString scheme = parsed.scheme().toLower();
    if (scheme != QLatin1StringView("http") && scheme != QLatin1StringView("https"))
        throw httpError(ErrorNumber::UnsupportedScheme,
                        QStringLiteral("The URL \"%1\" is neither http nor https").arg(url));

    m_method = upperMethod;
    m_url = parsed.toEncoded();
    m_readyState = 1;
    m_status = 0;
    m_reply.clear();
    m_contentType.clear();
}

void CurlHttpRequest::send(const QString &body) {
    if (m_readyState != 1)
        throw httpError(ErrorNumber::Unexpected, QStringLiteral("send() needs a fresh call of open()"));
    Transfer transfer(body, m_limits.maxReplyBytes);
    configureHandle(transfer, m_method, m_url, m_settings, m_limits);
    qCDebug(lcHttp) << "sending" << m_method << m_url << "with" << transfer.body.size() << "body bytes";
    performTransfer(transfer, m_limits.maxReplyBytes);

    m_status = int(responseCodeOf(transfer.curl()));
    m_contentType = contentTypeOf(transfer.curl());
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

QString CurlHttpRequest::decodeReply(const QByteArray &body, const QByteArray &contentType) {
    const QByteArray charset = charsetOf(contentType);
    if (!charset.isEmpty()) {
        QStringDecoder decoder(charset.constData());
        if (decoder.isValid())
            return decoder.decode(body);
        qCDebug(lcHttp) << "unknown reply charset" << charset << "- decoding as UTF-8";
    }
    const auto encoding = QStringConverter::encodingForData(body).value_or(QStringConverter::Utf8);
    QStringDecoder decoder(encoding);
    return decoder.decode(body);
}

QByteArray CurlHttpRequest::userAgent() {
    return QByteArrayLiteral("OrvexKelPostJob/") + Identity::VersionText;
}

std::unique_ptr<HttpRequest> makeCurlHttpRequest(const HttpSettings &settings, HttpLimits limits) {
    return std::make_unique<CurlHttpRequest>(settings, limits);
}

HttpRequestFactory curlHttpRequestFactory(HttpLimits limits) {
    return [limits](const HttpSettings &settings) { return makeCurlHttpRequest(settings, limits); };
}

} // namespace Orvex
