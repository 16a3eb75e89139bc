#pragma once

#include "automationerror.h"
#include "variant.h"

#include <QDBusVariant>
#include <QString>
#include <QVariant>

// How automation values and errors travel on the bus; the type library describes the same forms.
namespace Orvex::BusWire {

// Error numbers of the dispatch layer, in HRESULT form as automation clients know them.
inline constexpr qint32 MemberNotFound = qint32(0x80020003);
inline constexpr qint32 ArgumentTypeMismatch = qint32(0x80020005);
inline constexpr qint32 UnknownName = qint32(0x80020006);
inline constexpr qint32 BadVariableType = qint32(0x80020008);
inline constexpr qint32 BadParameterCount = qint32(0x8002000E);
inline constexpr qint32 NoInterface = qint32(0x80004002);
inline constexpr qint32 OutOfMemory = 7;
inline constexpr qint32 UnspecifiedError = qint32(0x80004005);

// A dispatch-layer error with its usual wording, raised by the component itself.
AutomationError dispatchError(qint32 number);

// "OrvexKelPostJob.Error.TypeMismatch" for numbers with a symbol, else "OrvexKelPostJob.Error".
QString errorName(const AutomationError &error);
// "<description> (<number>) [source: <source>]"
QString errorMessage(const AutomationError &error);
// Reads errorMessage() back; false when text is not in that form.
bool parseErrorMessage(const QString &text, qint32 *number, QString *source, QString *description);

// A value unwrapped from a bus variant (nested variants included) as an automation value.
// Throws AutomationError BadVariableType for forms the type library does not define, Overflow for an
// unsigned 64-bit value beyond the signed range.
Variant fromBus(const QVariant &value);
// The value as a bus variant: basic types directly, the rest as the tagged (sv) structure.
QDBusVariant toBus(const Variant &value);

} // namespace Orvex::BusWire
