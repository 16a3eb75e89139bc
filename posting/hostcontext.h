#pragma once

#include "httprequest.h"

#include <QString>

class StatusView;

namespace Orvex {
class Clock;
}

// What the host process hands every PostJob object: decided once per process, shared by all objects.
struct HostContext {
    QString programFolder;                    // without a trailing separator
    const Orvex::Clock *clock = nullptr;      // local date and time for log records and debug copies
    StatusView *statusWindow = nullptr;       // the process's one status window
    Orvex::HttpRequestFactory requestFactory; // a fresh request object per posting
};
