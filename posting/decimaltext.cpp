#include "decimaltext.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>
#include <string_view>
#include <system_error>

namespace Orvex {

namespace {

// A finite, nonzero number as sign, significant digits d1 d2 ... and the decimal exponent of d1.
struct Digits {
    bool negative = false;
    std::string digits;
    int exponent = 0;
};

// Parses what std::to_chars writes in scientific form: "-d.ddde+XX".
Digits parseScientific(std::string_view text) {
    Digits result;
    if (!text.empty() && text.front() == '-') {
        result.negative = true;
        text.remove_prefix(1);
    }
    const auto ePos = text.find('e');
    for (const char c : text.substr(0, ePos)) {
        if (c != '.')
            result.digits += c;
    }
    std::string_view exponent = text.substr(ePos + 1);
    const bool negativeExponent = exponent.front() == '-';
    if (exponent.front() == '+' || exponent.front() == '-')
        exponent.remove_prefix(1);
    std::from_chars(exponent.data(), exponent.data() + exponent.size(), result.exponent);
    if (negativeExponent)
        result.exponent = -result.exponent;
    while (result.digits.size() > 1 && result.digits.back() == '0')
        result.digits.pop_back();
    return result;
}

std::string positional(const Digits &d) {
    std::string text = d.negative ? "-" : "";
    if (d.exponent < 0) {
        text += "0.";
        text.append(size_t(-d.exponent - 1), '0');
        text += d.digits;
        return text;
    }
    const size_t integerDigits = size_t(d.exponent) + 1;
    if (d.digits.size() <= integerDigits) {
        text += d.digits;
        text.append(integerDigits - d.digits.size(), '0');
    } else {
        text += d.digits.substr(0, integerDigits);
        text += '.';
        text += d.digits.substr(integerDigits);
    }
    return text;
}

std::string exponential(const Digits &d) {
    std::string text = d.negative ? "-" : "";
    text += d.digits.front();
    if (d.digits.size() > 1) {
        text += '.';
        text += d.digits.substr(1);
    }
    text += d.exponent < 0 ? "E-" : "E+";
    const int magnitude = std::abs(d.exponent);
    if (magnitude < 10)
        text += '0';
    text += std::to_string(magnitude);
    return text;
}

// The exact decimal value of a double has at most this many significant digits (the largest subnormal).
constexpr int ExactDigitsMax = 767;
// "-d.", the other digits, "e-324": the longest scientific form of that many digits.
constexpr int ScientificCharsMax = 3 + (ExactDigitsMax - 1) + 5;

// NaN and the infinities, which no rounding changes.
QString nonFiniteText(double value) {
    if (std::isnan(value))
        return QStringLiteral("NaN");
    return value < 0 ? QStringLiteral("-Infinity") : QStringLiteral("Infinity");
}

constexpr int DoubleSignificantDigits = 15;
constexpr int SingleSignificantDigits = 7;
// Below this exponent the runtime writes 0.0001 and smaller in the exponent form.
constexpr int SmallestPositionalExponent = -4;

// C's %G with the runtime's digits. The exponent of the rounded number decides, so 999999999999999.9
// becomes 1E+15.
template<typename Real> QString generalForm(Real value, int significantDigits) {
    if (!std::isfinite(value))
        return nonFiniteText(double(value));
    if (value == 0) // also negative zero, which the runtime prints as 0
        return QStringLiteral("0");
    char buffer[32]; // "-d." + at most 14 more digits + "e-308"
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific,
                                      significantDigits - 1);
    const Digits d = parseScientific(std::string_view(buffer, size_t(result.ptr - buffer)));
    const bool ordinary = d.exponent >= SmallestPositionalExponent && d.exponent < significantDigits;
    return QString::fromLatin1(ordinary ? positional(d) : exponential(d));
}

} // namespace

QString doubleDecimal(double value) {
    return generalForm(value, DoubleSignificantDigits);
}

QString singleDecimal(float value) {
    return generalForm(value, SingleSignificantDigits);
}

QString roundedDecimal(double value, int significantDigits) {
    if (!std::isfinite(value))
        return nonFiniteText(value);
    if (value == 0)
        return QStringLiteral("0");
    // Past the exact value's own digits more only add zeros, which are dropped anyway.
    const int digits = std::clamp(significantDigits, 1, ExactDigitsMax);
    char buffer[ScientificCharsMax];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, digits - 1);
    if (result.ec != std::errc{}) // cannot happen with the buffer above; never parse what was not written
        return generalForm(value, DoubleSignificantDigits);
    return QString::fromLatin1(
        positional(parseScientific(std::string_view(buffer, size_t(result.ptr - buffer)))));
}

QString currencyDecimal(qint64 tenThousandths) {
    // Unsigned magnitude, so the most negative amount has one too.
    const bool negative = tenThousandths < 0;
    const quint64 magnitude = negative ? 0 - quint64(tenThousandths) : quint64(tenThousandths);
    QString text = negative ? QStringLiteral("-") : QString();
    text += QString::number(magnitude / 10000);
    QString fraction = QStringLiteral("%1").arg(magnitude % 10000, 4, 10, QLatin1Char('0'));
    while (fraction.endsWith(u'0'))
        fraction.chop(1);
    if (!fraction.isEmpty())
        text += u'.' + fraction;
    return text;
}

} // namespace Orvex
