#pragma once

#include <QString>

#include <sys/types.h>

namespace Orvex {

// Takes back the last `written` bytes of fd, a file open in append mode just after a write that did not
// go in whole, while they are still its tail. False when they stay.
bool takeBackPartialRecord(int fd, const QString &path, ssize_t written);

} // namespace Orvex
