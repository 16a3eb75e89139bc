#pragma once

#include "postingoutcome.h"

#include <QDateTime>
#include <QString>

#include <chrono>
#include <optional>

// When a posting is tried again, as HTTP clients retry a POST: only where it cannot have arrived, or where
// the board asked to be spared for a while (429, 503); everything else is reported, never repeated.
namespace Orvex::RetryPolicy {

// Whether another try may follow this outcome.
bool mayRetry(const PostingOutcome &outcome);

// How long a Retry-After value asks to wait: whole seconds, or an HTTP date (as of now). Nothing for an
// empty or unreadable value; a date already past asks for no wait.
std::optional<std::chrono::milliseconds> retryAfter(const QString &value, const QDateTime &now);

// The wait after the given number of failed tries. A board's Retry-After is the wait: it knows when it will
// be back. Without one, doubling from a short first wait up to a cap, its upper half scaled by jitter (0 to
// 1) so that clients of one outage do not return in step.
std::chrono::milliseconds delayAfter(int failedTries, double jitter,
                                     std::optional<std::chrono::milliseconds> retryAfter = std::nullopt);

} // namespace Orvex::RetryPolicy
