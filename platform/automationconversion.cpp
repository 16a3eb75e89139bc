#include "automationconversion.h"

#include "automationerror.h"
#include "errortable.h"

#include <QRegularExpression>

#include <cmath>

namespace Orvex {

bool textToBoolean(const QString &text) {
    if (text.compare(u"True", Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(u"False", Qt::CaseInsensitive) == 0)
        return false;

    // Only the space character counts as padding, as the runtime's number parser has it.
    static const QRegularExpression number(
        QStringLiteral(R"(^ *([+-]?(?:[0-9]+(?:\.[0-9]*)?|\.[0-9]+)(?:[eE][+-]?[0-9]+)?) *$)"));
    const QRegularExpressionMatch match = number.match(text);
    if (!match.hasMatch())
        throw AutomationError::runtime(ErrorNumber::TypeMismatch);

    bool ok = false;
    const double value = match.captured(1).toDouble(&ok);
    if (!ok || std::isinf(value))
        throw AutomationError::runtime(ErrorNumber::Overflow);
    return value != 0.0;
}

} // namespace Orvex
