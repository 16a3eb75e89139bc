#include "backgroundhttprequest.h"

#include <QEventLoop>
#include <QScopeGuard>

#include <exception>
#include <thread>

namespace Orvex {

BackgroundHttpRequest::BackgroundHttpRequest(std::unique_ptr<HttpRequest> request, ExchangeWatcher watcher)
    : m_request(std::move(request))
    , m_watcher(std::move(watcher)) {}

void BackgroundHttpRequest::open(const QString &method, const QString &url, bool async) {
    m_request->open(method, url, async);
}

void BackgroundHttpRequest::send(const QString &body) {
    if (m_watcher)
        m_watcher(true);
    const auto exchangeOver = qScopeGuard([this] {
        if (m_watcher)
            m_watcher(false);
    });

    QEventLoop loop;
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            m_request->send(body);
        } catch (...) {
            failure = std::current_exception();
        }
        // Posted, so it also ends a loop that has not started yet.
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
}

int BackgroundHttpRequest::readyState() const {
    return m_request->readyState();
}

int BackgroundHttpRequest::status() const {
    return m_request->status();
}

QString BackgroundHttpRequest::responseText() const {
    return m_request->responseText();
}

HttpRequestFactory backgroundHttpRequestFactory(HttpRequestFactory factory,
                                                BackgroundHttpRequest::ExchangeWatcher watcher) {
    return [factory = std::move(factory), watcher = std::move(watcher)]() -> std::unique_ptr<HttpRequest> {
        std::unique_ptr<HttpRequest> request = factory ? factory() : nullptr;
        if (!request)
            return nullptr;
        return std::make_unique<BackgroundHttpRequest>(std::move(request), watcher);
    };
}

} // namespace Orvex
