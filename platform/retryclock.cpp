#include "retryclock.h"

namespace Orvex {

bool BlockingRetryClock::sleep(std::chrono::milliseconds delay) {
    std::unique_lock lock(m_mutex);
    return !m_stopping.wait_for(lock, delay, [this] { return m_stopped; });
}

void BlockingRetryClock::stop() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopped = true;
    }
    m_stopping.notify_all();
}

} // namespace Orvex
