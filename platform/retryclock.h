#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace Orvex {

// The time between the tries of one posting. A seam so that tests need not wait for real.
class RetryClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~RetryClock() = default;
    virtual TimePoint now() const = 0;
    // Waits for delay; false, at once or early, once no further try may start (the process is ending).
    virtual bool sleep(std::chrono::milliseconds delay) = 0;
};

// The steady clock, and waits that block the calling thread: for a posting that runs its own tries off any
// thread with windows or bus calls to serve. Any thread may stop it.
class BlockingRetryClock final : public RetryClock {
public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    bool sleep(std::chrono::milliseconds delay) override;

    // Ends every wait in progress and refuses every later one.
    void stop();

private:
    std::mutex m_mutex;
    std::condition_variable m_stopping;
    bool m_stopped = false;
};

} // namespace Orvex
