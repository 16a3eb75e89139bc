#pragma once

#include "automationerror.h"
#include "variant.h"

#include <QDBusVariant>
#include <QString>
#include <QVariant>

// How automation values and errors travel on the bus; the type library describes the same forms.
namespace Orvex::BusWire {

// The bus error name: "OrvexKelPostJob.Error.TypeMismatch" for numbers of the error table, else
// "OrvexKelPostJob.Error".
QString errorName(const AutomationError &error);
// "<description> (<number>) [source: <source>]"
QString errorMessage(const AutomationError &error);
// Reads errorMessage() back, whatever the source holds; false when text is not in that form.
bool parseErrorMessage(const QString &text, qint32 *number, QString *source, QString *description);

// A value unwrapped from a bus variant (nested variants included) as an automation value.
// Throws AutomationError BadVariableType for forms the type library does not define, Overflow for an
// unsigned 64-bit value beyond the signed range.
Variant fromBus(const QVariant &value);
// The value as a bus variant: basic types directly, the rest as the tagged (sv) structure.
QDBusVariant toBus(const Variant &value);

} // namespace Orvex::BusWire
