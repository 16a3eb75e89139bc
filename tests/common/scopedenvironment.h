#pragma once

#include <QByteArray>
#include <QList>

#include <initializer_list>
#include <utility>

// Sets environment variables while it lives (a null value unsets one), restoring them afterwards.
class ScopedEnvironment {
public:
    explicit ScopedEnvironment(std::initializer_list<std::pair<const char *, QByteArray>> variables);
    ~ScopedEnvironment();

    ScopedEnvironment(const ScopedEnvironment &) = delete;
    ScopedEnvironment &operator=(const ScopedEnvironment &) = delete;

private:
    struct Saved {
        const char *name;
        bool wasSet;
        QByteArray value;
    };
    QList<Saved> m_saved;
};
