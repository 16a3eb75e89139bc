#pragma once

#include <QIcon>

namespace Orvex {

// The program's own 16 x 16 icon: the status window shows it, and the executable is known by it.
QIcon programIcon();

} // namespace Orvex
