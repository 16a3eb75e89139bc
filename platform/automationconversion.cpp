#include "automationconversion.h"

#include "automationerror.h"
#include "errortable.h"

#include <QStringView>

#include <cmath>

namespace Orvex {

namespace {

bool isAsciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// Whether text is a decimal number as the runtime's parser reads one: a sign, digits with a point
// somewhere among or after them, an exponent. Scanned by hand: it runs at every creation, and a regular
// expression would cost a cold activation more than everything else the settings take.
bool isDecimalNumber(QStringView text) {
    qsizetype at = 0;
    const auto skipSign = [&] {
        if (at < text.size() && (text[at] == u'+' || text[at] == u'-'))
            ++at;
    };
    const auto skipDigits = [&] {
        const qsizetype from = at;
        while (at < text.size() && isAsciiDigit(text[at]))
            ++at;
        return at - from;
    };
    skipSign();
    const qsizetype whole = skipDigits();
    qsizetype fraction = 0;
    if (at < text.size() && text[at] == u'.') {
        ++at;
        fraction = skipDigits();
    }
    if (whole == 0 && fraction == 0)
        return false;
    if (at < text.size() && (text[at] == u'e' || text[at] == u'E')) {
        ++at;
        skipSign();
        if (skipDigits() == 0)
            return false;
    }
    return at == text.size();
}

// Only the space character counts as padding, as the runtime's number parser has it.
QStringView withoutSpaces(QStringView text) {
    while (!text.isEmpty() && text.front() == u' ')
        text = text.sliced(1);
    while (!text.isEmpty() && text.back() == u' ')
        text.chop(1);
    return text;
}

} // namespace

bool textToBoolean(const QString &text) {
    if (text.compare(u"True", Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(u"False", Qt::CaseInsensitive) == 0)
        return false;

    const QStringView number = withoutSpaces(text);
    if (!isDecimalNumber(number))
        throw AutomationError::runtime(ErrorNumber::TypeMismatch);

    bool ok = false;
    const double value = number.toDouble(&ok);
    if (!ok || std::isinf(value))
        throw AutomationError::runtime(ErrorNumber::Overflow);
    return value != 0.0;
}

} // namespace Orvex
