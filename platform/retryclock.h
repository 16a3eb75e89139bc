#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

class QEventLoop;

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

// The steady clock, and waits in a nested event loop, so that windows repaint, bus calls queue up and
// signals are handled while a posting waits for its next try.
class EventLoopRetryClock final : public RetryClock {
public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    bool sleep(std::chrono::milliseconds delay) override;

    // Ends a wait in progress and refuses every later one.
    void stop();
    bool isWaiting() const { return m_waiting; }

private:
    bool m_waiting = false;
    bool m_stopped = false;
    // Quits the wait in progress; set only while one runs.
    QEventLoop *m_loop = nullptr;
};

// The steady clock, and waits that block the calling thread: for postings on worker threads, which have
// no windows to repaint. Any thread may stop it.
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
