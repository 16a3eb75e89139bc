#pragma once

#include <QString>

#include <functional>
#include <memory>

namespace Orvex {

// The synchronous HTTP request object that PostXml drives. Failures throw Orvex::AutomationError.
class HttpRequest {
public:
    virtual ~HttpRequest() = default;
    virtual void open(const QString &method, const QString &url, bool async) = 0;
    // Blocks until the whole response has arrived.
    virtual void send(const QString &body) = 0;
    virtual int readyState() const = 0;
    virtual int status() const = 0;
    virtual QString responseText() const = 0;
};

// Makes a fresh request object for every posting.
using HttpRequestFactory = std::function<std::unique_ptr<HttpRequest>()>;

} // namespace Orvex
