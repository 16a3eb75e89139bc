#include "scopedenvironment.h"

#include <QtGlobal>

ScopedEnvironment::ScopedEnvironment(std::initializer_list<std::pair<const char *, QByteArray>> variables) {
    for (const auto &[name, value] : variables) {
        m_saved.append({name, qEnvironmentVariableIsSet(name), qgetenv(name)});
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
}

ScopedEnvironment::~ScopedEnvironment() {
    // Backwards, so a variable named twice ends as it was before the first.
    for (auto saved = m_saved.crbegin(); saved != m_saved.crend(); ++saved) {
        if (saved->wasSet)
            qputenv(saved->name, saved->value);
        else
            qunsetenv(saved->name);
    }
}
