#pragma once

#include "componentfolders.h"
#include "httprequest.h"

#include <QString>

#include <atomic>
#include <memory>

namespace Orvex {

class Clock;
class RetryClock;
class JournalWriter;
class StatusView;

// What the host process hands every PostJob object: decided once per process, shared by all objects,
// and outliving them.
struct HostContext {
    ComponentFolders folders;          // where the log, the debug copies and the INI file are
    const Clock &clock;                // local date and time for log records and debug copies
    StatusView &statusWindow;          // the process's one status window
    HttpRequestFactory requestFactory; // a fresh request object per posting
    // Set once the process has said that a record or a debug copy could not be written: it says so once a
    // run, whatever the number of files and objects. Postings on several threads may fail at once, and
    // every host of the process (the posting engine's too) shares this one flag.
    std::shared_ptr<std::atomic<bool>> fileWarningGiven = std::make_shared<std::atomic<bool>>(false);
    // Times and waits between the tries of a posting; none: the steady clock and an event-loop wait.
    RetryClock *retryClock = nullptr;
    // The process's posting journal; none for a host that keeps none.
    JournalWriter *journal = nullptr;
};

} // namespace Orvex
