#pragma once

#include <QString>

#include <exception>
#include <string>

namespace Orvex {

// The project name under which errors arising inside the component are reported.
inline constexpr char16_t ComponentSource[] = u"OrvexKelPostJob";

// An automation error: what the automation runtime carries from a failing call back to its caller.
// Numbers are those of the error table (errortable.h) or any other a caller chooses.
class AutomationError : public std::exception {
public:
    AutomationError(qint32 number, QString source, QString description);

    // An error of the table, with the table's description; other numbers get the runtime's wording
    // for errors it does not know.
    static AutomationError runtime(qint32 number,
                                   const QString &source = QString::fromUtf16(ComponentSource));
    static QString runtimeDescription(qint32 number);

    qint32 number() const noexcept { return m_number; }
    const QString &source() const noexcept { return m_source; }
    const QString &description() const noexcept { return m_description; }

    const char *what() const noexcept override { return m_what.c_str(); }

private:
    qint32 m_number;
    QString m_source;
    QString m_description;
    std::string m_what;
};

} // namespace Orvex
