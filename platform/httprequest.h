#pragma once

#include "httpsettings.h"
#include "postingoutcome.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

namespace Orvex {

// The synchronous HTTP request object that PostXml drives. Failures throw Orvex::AutomationError.
class HttpRequest {
public:
    virtual ~HttpRequest() = default;
    virtual void open(const QString &method, const QString &url, bool async) = 0;
    // Sends the body as given (toWireBytes makes it); blocks until the whole response has arrived.
    virtual void send(const QByteArray &body) = 0;
    virtual int readyState() const = 0;
    virtual int status() const = 0;
    virtual QString responseText() const = 0;
    // A header of the completed reply, the last one of that name (any letter case); empty without one.
    virtual QString getResponseHeader(const QString &name) const = 0;
    // After send() failed: NotSent when no byte of the body can have reached the board (a refused connect,
    // a handshake, a refused redirect), Unknown when some of it left and no complete reply came.
    virtual DeliveryClass failedDelivery() const = 0;
};

// Makes a fresh request object for every posting, with the settings of the PostJob that posts.
using HttpRequestFactory = std::function<std::unique_ptr<HttpRequest>(const HttpSettings &)>;

} // namespace Orvex
