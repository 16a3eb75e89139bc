#pragma once

#include <QString>

// Numbers as text with a period for the decimal separator, whatever the process locale.
namespace Orvex {

// The shortest text that reads back as the same value. Positional from 1e-5 up to below 1e15; outside
// that range the exponent form "1.5E+20" / "1E-07", as the automation runtime prints such numbers.
QString shortestDecimal(double value);
QString shortestDecimal(float value);

// Rounded to the given count of significant digits, always positional, trailing zeros and a bare
// decimal point dropped. A count below one rounds to one digit; a count past the value's exact digits
// gives its exact value.
QString roundedDecimal(double value, int significantDigits);

// A currency amount held as ten-thousandths: up to four decimals, trailing zeros dropped.
QString currencyDecimal(qint64 tenThousandths);

} // namespace Orvex
