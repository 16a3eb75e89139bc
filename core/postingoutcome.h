#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace Orvex {

// Whether the board may have a listing once its exchange ended. Decided where the exchange fails, because
// only the request object knows whether any byte of the document left.
enum class DeliveryClass : quint8 {
    Posted,  // "S": the board took it
    NotSent, // nothing of the document left (resolve, connect, TLS, a refused redirect, an invalid URL)
    Refused, // the board answered for it: a status other than 200, or 200 without "success=1"
    Unknown, // some or all of the document left and no complete reply came: the board may have it
};

// The one spelling of each class, in the journal, on the bus and in --json.
QString deliveryClassName(DeliveryClass deliveryClass);
std::optional<DeliveryClass> deliveryClassFromName(QStringView name);

// What one posting came to, beyond its result code: enough for a client to say why a listing failed
// without reading the log.
struct PostingOutcome {
    QString resultCode;       // "S" + job id, or "F"
    int httpStatus = 0;       // 0 when no HTTP reply arrived
    qint32 errorNumber = 0;   // 0 when the exchange raised no error
    QString errorDescription; // without any URL's user-info
    QString reply{};          // the board's reply as the exchange judged it: empty unless status 200
    DeliveryClass deliveryClass = DeliveryClass::NotSent;
};

} // namespace Orvex
