#pragma once

#include "httprequest.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <memory>
#include <utility>

namespace Orvex {

// Limits the request object brings of its own beside the deployment's time limits (HttpSettings).
struct HttpLimits {
    // A transfer that moves fewer than stallBytesPerSecond for stallTime counts as hung and is abandoned.
    std::chrono::seconds stallTime{30};
    long stallBytesPerSecond = 1;
    // A board reply is a short line of name=value pairs; anything this big is no reply and must not
    // exhaust memory.
    qint64 maxReplyBytes = 8 * 1024 * 1024;
    // Enough for any sane chain of moved endpoints, few enough to stop a loop at once.
    long maxRedirects = 10;
};

// The synchronous HTTP request object over libcurl: one easy handle per send(), released on every path.
// The body goes out as given (toWireBytes() makes it ISO-8859-1); compressed replies are asked for and
// decoded. The whole exchange, redirects included, ends within the settings' time limit.
// It follows 301, 302, 307 and 308 with the same method and body, 303 with GET, and never from https to
// plain http. It speaks http and https only, presents the settings' client certificate, and honours
// http_proxy/https_proxy/no_proxy from the environment. Certificates are always verified, against the CA
// file named by CURL_CA_BUNDLE, else SSL_CERT_FILE, else the system's.
class CurlHttpRequest final : public HttpRequest {
public:
    // The source of the errors this object raises.
    static constexpr char16_t ErrorSource[] = u"OrvexKelPostJob.HttpRequest";

    explicit CurlHttpRequest(HttpSettings settings = {}, HttpLimits limits = {});

    // Method "GET" or "POST" (any letter case); async must be false. Throws AutomationError otherwise.
    void open(const QString &method, const QString &url, bool async) override;
    void send(const QByteArray &body) override;
    // 0 before open(), 1 after it, 4 once send() has completed.
    int readyState() const override { return m_readyState; }
    int status() const override;
    QString responseText() const override;
    QString getResponseHeader(const QString &name) const override;
    DeliveryClass failedDelivery() const override { return m_failedDelivery; }

    // The reply decoded by the charset of its Content-Type; without a usable one, by its byte order mark,
    // else as UTF-8. Invalid bytes become U+FFFD, and so does U+0000: a reply is text, and the bus, the
    // log and the result code must all show the same one.
    static QString decodeReply(const QByteArray &body, const QByteArray &contentType);
    // "OrvexKelPostJob/1.00.0002"
    static QByteArray userAgent();
    // libcurl's process-wide set-up, made once, by the first request if not before; whether it succeeded.
    static bool setUpLibrary();

private:
    void requireCompleted() const;

    HttpSettings m_settings;
    HttpLimits m_limits;
    QByteArray m_method;
    QByteArray m_url;
    int m_readyState = 0;
    int m_status = 0;
    QByteArray m_reply;
    QByteArray m_contentType;
    QList<std::pair<QByteArray, QByteArray>> m_headers;
    DeliveryClass m_failedDelivery = DeliveryClass::NotSent;
};

std::unique_ptr<HttpRequest> makeCurlHttpRequest(const HttpSettings &settings, HttpLimits limits = {});
HttpRequestFactory curlHttpRequestFactory(HttpLimits limits = {});

} // namespace Orvex
