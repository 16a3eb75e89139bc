#include "retrypolicy.h"

#include "errortable.h"

#include <algorithm>

namespace Orvex::RetryPolicy {

namespace {

using std::chrono::milliseconds;

constexpr milliseconds FirstDelay{500};
// A board back after an outage is found within this; longer waits only lose time.
constexpr milliseconds MaxDelay{30'000};
constexpr int TooManyRequests = 429;
constexpr int ServiceUnavailable = 503;

} // namespace

bool mayRetry(const PostingOutcome &outcome) {
    // A journal that cannot record is no outage of the board: waiting would not mend it.
    if (outcome.errorNumber == ErrorNumber::JournalNotRecorded)
        return false;
    // The journal's own answer: the rerun completes a listing in flight elsewhere.
    if (outcome.errorNumber == ErrorNumber::InFlightElsewhere ||
        outcome.errorNumber == ErrorNumber::AlreadyPosted)
        return false;
    switch (outcome.deliveryClass) {
    case DeliveryClass::NotSent:
        return true;
    case DeliveryClass::Refused:
        return outcome.httpStatus == TooManyRequests || outcome.httpStatus == ServiceUnavailable;
    case DeliveryClass::Posted:
    case DeliveryClass::Unknown:
        return false;
    }
    return false;
}

std::optional<milliseconds> retryAfter(const QString &value, const QDateTime &now) {
    const QString text = value.trimmed();
    if (text.isEmpty())
        return std::nullopt;
    bool isNumber = false;
    const qint64 seconds = text.toLongLong(&isNumber);
    if (isNumber)
        return seconds < 0 ? std::nullopt : std::optional(milliseconds(seconds * 1000));
    // HTTP dates are RFC 1123 dates in GMT, which Qt reads as RFC 2822 once the zone is an offset.
    QString rfc2822 = text;
    if (rfc2822.endsWith(u" GMT"))
        rfc2822 = rfc2822.chopped(3) + QStringLiteral("+0000");
    const QDateTime date = QDateTime::fromString(rfc2822, Qt::RFC2822Date);
    if (!date.isValid())
        return std::nullopt;
    return milliseconds(std::max<qint64>(0, now.msecsTo(date)));
}

milliseconds delayAfter(int failedTries, double jitter, std::optional<milliseconds> retryAfter) {
    if (retryAfter)
        return *retryAfter;
    const int doublings = std::clamp(failedTries - 1, 0, 16);
    const milliseconds ceiling = std::min(MaxDelay, milliseconds(FirstDelay.count() << doublings));
    return ceiling / 2 + milliseconds(qint64(double((ceiling / 2).count()) * std::clamp(jitter, 0.0, 1.0)));
}

} // namespace Orvex::RetryPolicy
