#include "automationerror.h"

#include "errortable.h"

namespace Orvex {

AutomationError::AutomationError(qint32 number, QString source, QString description)
    : m_number(number)
    , m_source(std::move(source))
    , m_description(std::move(description))
    , m_what(QStringLiteral("%1 (%2)").arg(m_description, QString::number(m_number)).toStdString()) {}

AutomationError AutomationError::runtime(qint32 number, const QString &source) {
    return AutomationError(number, source, runtimeDescription(number));
}

QString AutomationError::runtimeDescription(qint32 number) {
    if (const std::optional<ErrorEntry> entry = errorEntry(number))
        return QString::fromLatin1(entry->description.data(), qsizetype(entry->description.size()));
    return QStringLiteral("Application-defined or object-defined error");
}

} // namespace Orvex
