#pragma once

#include <QString>
#include <QtGlobal>

namespace Orvex {

// What one posting came to, beyond its result code: enough for a client to say why a listing failed
// without reading the log.
struct PostingOutcome {
    QString resultCode;       // "S" + job id, or "F"
    int httpStatus = 0;       // 0 when no HTTP reply arrived
    qint32 errorNumber = 0;   // 0 when the exchange raised no error
    QString errorDescription; // without any URL's user-info
    QString reply{};          // the board's reply as the exchange judged it: empty unless status 200
};

} // namespace Orvex
