#pragma once

#include "httpsettings.h"

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

// Makes a fresh request object for every posting, with the settings of the PostJob that posts.
using HttpRequestFactory = std::function<std::unique_ptr<HttpRequest>(const HttpSettings &)>;

} // namespace Orvex
