#pragma once

#include "variant.h"

#include <QDBusVariant>

namespace Orvex {

// AnyOther on the wire: basic types as their D-Bus twins, the rest as the server's tagged (sv) structure.
QDBusVariant toBusVariant(const Variant &value);

} // namespace Orvex
