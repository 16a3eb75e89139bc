#pragma once

#include "automationerror.h"

#include <QDBusError>

namespace Orvex {

// HRESULTs an automation client sees for the same failures of a local server.
namespace HResult {
inline constexpr qint32 ClassNotRegistered = qint32(0x80040154); // REGDB_E_CLASSNOTREG
inline constexpr qint32 ServerExecFailure = qint32(0x80080005);  // CO_E_SERVER_EXEC_FAILURE
inline constexpr qint32 ObjectDisconnected = qint32(0x80010108); // RPC_E_DISCONNECTED
inline constexpr qint32 ServerUnavailable = qint32(0x800706BA);  // RPC_S_SERVER_UNAVAILABLE
inline constexpr qint32 CallFailed = qint32(0x800706BE);         // RPC_S_CALL_FAILED
inline constexpr qint32 UnspecifiedFailure = qint32(0x80004005); // E_FAIL
} // namespace HResult

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
