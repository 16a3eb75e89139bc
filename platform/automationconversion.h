#pragma once

#include <QString>

namespace Orvex {

// The automation runtime's conversion of text to Boolean: "True" or "False" in any letter case, or a
// decimal number (spaces around it allowed) where zero is False and any other value True.
// Anything else, the empty text included, throws AutomationError 13 "Type mismatch"; a number beyond
// the range of a double throws 6 "Overflow".
bool textToBoolean(const QString &text);

} // namespace Orvex
