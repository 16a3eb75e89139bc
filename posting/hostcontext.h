#pragma once

#include "httprequest.h"

#include <QString>

namespace Orvex {

class Clock;
class StatusView;

// What the host process hands every PostJob object: decided once per process, shared by all objects,
// and outliving them.
struct HostContext {
    QString programFolder;             // without a trailing separator
    const Clock &clock;                // local date and time for log records and debug copies
    StatusView &statusWindow;          // the process's one status window
    HttpRequestFactory requestFactory; // a fresh request object per posting
};

} // namespace Orvex
