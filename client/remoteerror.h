#pragma once

#include "automationerror.h"
#include "errortable.h"

#include <QDBusError>

namespace Orvex {

// When a bus error arose: the server's name is not yet bound to a process at creation, but is afterwards.
enum class CallStage { Creation, ObjectCall };

// Turns a bus error back into the automation error that the server raised, or, for the bus's own
// errors, into an error numbered the way automation clients expect for the same failure.
AutomationError fromBusError(const QDBusError &error, CallStage stage);

// True when the error says the serving process is gone, so the object died with it.
bool isServerGone(const QDBusError &error);

// What a failed call's error tells about the call itself.
enum class CallOutcome {
    // It never reached the object (the server ended first, or it or the object was gone): safe to send again.
    NotDelivered,
    // It was refused or it ran and failed: nothing happened, and sending it again would fail the same way.
    Failed,
    // The server was lost while it held the call, or the answer was lost: it may or may not have run.
    Unknown,
};
CallOutcome callOutcome(const QDBusError &error);

// True for a posting's error after which the board may hold the listing although no reply came (a kept
// connection closed after the listing went out): the client reports OutcomeUnknown and sends nothing again.
bool leavesBoardOutcomeUnknown(qint32 errorNumber);

// The error for a call whose outcome is unknown, carrying what the bus said, or the server's own error
// when that leaves the board's outcome open.
AutomationError outcomeUnknown(const QDBusError &error);

// "description (number) [source]" with HRESULT-style numbers in hexadecimal, for people to read.
QString describeError(const AutomationError &error);

} // namespace Orvex
