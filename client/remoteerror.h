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

// "description (number) [source]" with HRESULT-style numbers in hexadecimal, for people to read.
QString describeError(const AutomationError &error);

} // namespace Orvex
