#pragma once

#include <QString>

// Numbers as text with a period for the decimal separator, whatever the process locale.
namespace Orvex {

// The automation runtime's text for a Double: rounded to 15 significant digits, trailing zeros dropped;
// positional while the rounded number's decimal exponent lies in -4..14, else the exponent form with a
// sign and at least two digits ("1.5E+20", "1E-05").
QString doubleDecimal(double value);
// The same for a Single, with 7 significant digits: positional for exponents -4..6.
QString singleDecimal(float value);

// Rounded to the given count of significant digits, always positional, trailing zeros and a bare
// decimal point dropped. A count below one rounds to one digit; a count past the value's exact digits
// gives its exact value.
QString roundedDecimal(double value, int significantDigits);

// A currency amount held as ten-thousandths: up to four decimals, trailing zeros dropped.
QString currencyDecimal(qint64 tenThousandths);

} // namespace Orvex
