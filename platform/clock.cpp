#include "clock.h"

#include <algorithm>
#include <ctime>

namespace Orvex {

QDateTime SystemClock::now() const {
    // QDateTime::currentDateTime() calls tzset() each time, and without TZ in the environment glibc then
    // checks the zone file on every call: more than writing a log record costs. localtime_r reads the
    // zone once per process.
    timespec since{};
    tm local{};
    if (clock_gettime(CLOCK_REALTIME, &since) != 0 || !localtime_r(&since.tv_sec, &local))
        return QDateTime::currentDateTime();
    const QDate date(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    const QTime time(local.tm_hour, local.tm_min, std::min(local.tm_sec, 59), int(since.tv_nsec / 1000000));
    return QDateTime(date, time, Qt::OffsetFromUTC, int(local.tm_gmtoff));
}

const Clock &systemClock() {
    static const SystemClock clock;
    return clock;
}

} // namespace Orvex
