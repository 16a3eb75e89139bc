#include "clock.h"

namespace Orvex {

QDateTime SystemClock::now() const
{
    return QDateTime::currentDateTime();
}

const Clock &systemClock()
{
    static const SystemClock clock;
    return clock;
}

} // namespace Orvex
