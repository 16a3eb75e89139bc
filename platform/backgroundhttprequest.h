#pragma once

#include "httprequest.h"

#include <functional>
#include <memory>

namespace Orvex {

// Runs another request object's send() on a worker thread while the calling thread's event loop keeps
// running, so that a slow board never freezes the windows of the process. Whatever the loop delivers
// meanwhile must be able to wait: the server's call queue holds bus calls until the exchange returns.
// The loop starts only once the exchange has taken a few milliseconds; a quicker one is simply awaited.
class BackgroundHttpRequest final : public HttpRequest {
public:
    // Told true as an exchange starts and false once it has returned or failed.
    using ExchangeWatcher = std::function<void(bool inFlight)>;
    // The thread that exchanges run on; the requests of one factory share one.
    class Worker;

    // Without a worker, the request brings its own.
    BackgroundHttpRequest(std::unique_ptr<HttpRequest> request, ExchangeWatcher watcher,
                          std::shared_ptr<Worker> worker = nullptr);

    void open(const QString &method, const QString &url, bool async) override;
    void send(const QByteArray &body) override;
    int readyState() const override;
    int status() const override;
    QString responseText() const override;
    QString getResponseHeader(const QString &name) const override;
    DeliveryClass failedDelivery() const override;

private:
    std::unique_ptr<HttpRequest> m_request;
    ExchangeWatcher m_watcher;
    std::shared_ptr<Worker> m_worker;
};

// Each request of factory, sent in the background on one worker thread that all of them share, started
// with the first exchange and joined once the factory and its last request are gone.
HttpRequestFactory backgroundHttpRequestFactory(HttpRequestFactory factory,
                                                BackgroundHttpRequest::ExchangeWatcher watcher);

} // namespace Orvex
