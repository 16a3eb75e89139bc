#pragma once

#include <QtGlobal>

namespace Orvex {

// Whether a process of this machine is over: gone, or a zombie its parent has not reaped yet (a server
// the bus's helper leaves to init can stay one for seconds), so its calls cannot be in flight.
bool hasProcessEnded(qint64 processId);

} // namespace Orvex
