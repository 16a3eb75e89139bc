#pragma once

#include <QHash>
#include <QString>

#include <array>
#include <optional>

namespace Orvex {

// The OSVERSIONINFO record in its ANSI form.
struct OsVersionInfo {
    static constexpr quint32 RecordSize = 148;

    quint32 osVersionInfoSize = 0;
    quint32 majorVersion = 0;
    quint32 minorVersion = 0;
    quint32 buildNumber = 0;
    quint32 platformId = 0;
    std::array<char, 128> csdVersion{};
};

// Version and environment of the system, as GetVersionExA and the environment calls give them.
class SystemInfo {
public:
    virtual ~SystemInfo() = default;

    // GetVersionExA: fills info and returns true when the call succeeds; info's size field must be set.
    virtual bool getVersionEx(OsVersionInfo &info) const = 0;
    // The value of an environment variable, names matched without regard to letter case; nothing when
    // it is not defined.
    virtual std::optional<QString> environmentVariable(const QString &name) const = 0;

    // ExpandEnvironmentStringsA: source with every %NAME% of a defined variable replaced by its value;
    // an undefined reference stays as written. Returns the characters the result needs, its NUL
    // included. When that fits in size, destination holds the result followed by a NUL; otherwise
    // destination is left as it was, so a caller's buffer never holds a cut path.
    quint32 expandEnvironmentStrings(const QString &source, QString &destination, quint32 size) const;
};

// The running system: the version record from uname(), the process environment read at each call.
class HostSystemInfo final : public SystemInfo {
public:
    bool getVersionEx(OsVersionInfo &info) const override;
    std::optional<QString> environmentVariable(const QString &name) const override;
};

// A system that answers what it was given; a missing version record makes the version call fail.
class FixedSystemInfo final : public SystemInfo {
public:
    FixedSystemInfo(std::optional<OsVersionInfo> version, QHash<QString, QString> environment)
        : m_version(std::move(version))
        , m_environment(std::move(environment)) {}

    bool getVersionEx(OsVersionInfo &info) const override;
    std::optional<QString> environmentVariable(const QString &name) const override;

    // A record with the given platform id and version numbers.
    static OsVersionInfo version(quint32 platformId, quint32 major, quint32 minor, quint32 build = 0);

private:
    std::optional<OsVersionInfo> m_version;
    QHash<QString, QString> m_environment;
};

} // namespace Orvex
