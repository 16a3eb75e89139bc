#pragma once

#include <QDateTime>

namespace Orvex {

// Local date and time, to the millisecond. A seam so that tests can pin the time.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override;
};

// A clock that shows whatever it was last set to.
class FixedClock final : public Clock {
public:
    explicit FixedClock(QDateTime now = {})
        : m_now(std::move(now)) {}
    void setNow(QDateTime now) { m_now = std::move(now); }
    QDateTime now() const override { return m_now; }

private:
    QDateTime m_now;
};

// The process's system clock.
const Clock &systemClock();

} // namespace Orvex
