#include "retryclock.h"

#include <QEventLoop>
#include <QScopedValueRollback>
#include <QTimer>

namespace Orvex {

bool EventLoopRetryClock::sleep(std::chrono::milliseconds delay) {
    if (m_stopped)
        return false;
    QEventLoop loop;
    QTimer::singleShot(delay, &loop, &QEventLoop::quit);
    const QScopedValueRollback waiting(m_waiting, true);
    const QScopedValueRollback current(m_loop, &loop);
    loop.exec();
    return !m_stopped;
}

void EventLoopRetryClock::stop() {
    m_stopped = true;
    if (m_loop)
        m_loop->quit();
}

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
