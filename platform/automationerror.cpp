#include "automationerror.h"

namespace Orvex {

AutomationError::AutomationError(qint32 number, QString source, QString description)
    : m_number(number)
    , m_source(std::move(source))
    , m_description(std::move(description))
    , m_what(QStringLiteral("%1 (%2)").arg(m_description).arg(m_number).toStdString()) {}

AutomationError AutomationError::runtime(qint32 number, const QString &source) {
    return AutomationError(number, source, runtimeDescription(number));
}

QString AutomationError::runtimeDescription(qint32 number) {
    switch (number) {
    case InvalidProcedureCall:
        return QStringLiteral("Invalid procedure call or argument");
    case Overflow:
        return QStringLiteral("Overflow");
    case TypeMismatch:
        return QStringLiteral("Type mismatch");
    default:
        return QStringLiteral("Application-defined or object-defined error");
    }
}

} // namespace Orvex
