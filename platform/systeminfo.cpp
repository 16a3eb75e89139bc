#include "systeminfo.h"

#include <QProcessEnvironment>
#include <QStringList>

#include <sys/utsname.h>

#include <algorithm>
#include <cstring>

namespace Orvex {

namespace {

// Neither the 9x (1) nor the NT (2) family: this system reports itself as something else.
constexpr quint32 PlatformIdOther = 0;

template<typename Lookup>
std::optional<QString> lookupIgnoringCase(const QStringList &names, const QString &name, Lookup value) {
    if (names.contains(name))
        return value(name);
    for (const QString &candidate : names) {
        if (candidate.compare(name, Qt::CaseInsensitive) == 0)
            return value(candidate);
    }
    return std::nullopt;
}

// "6.1.0-13-amd64" gives 6, 1 and 0; missing or unreadable parts give 0.
void parseRelease(const char *release, OsVersionInfo &info) {
    const QStringList parts = QString::fromLatin1(release).split(u'.');
    quint32 *fields[] = {&info.majorVersion, &info.minorVersion, &info.buildNumber};
    for (qsizetype i = 0; i < 3 && i < parts.size(); ++i) {
        qsizetype digits = 0;
        while (digits < parts.at(i).size() && parts.at(i).at(digits).isDigit())
            ++digits;
        *fields[i] = parts.at(i).left(digits).toUInt();
    }
}

} // namespace

quint32 SystemInfo::expandEnvironmentStrings(const QString &source, QString &destination,
                                             quint32 size) const {
    QString expanded;
    qsizetype at = 0;
    while (at < source.size()) {
        const qsizetype open = source.indexOf(u'%', at);
        const qsizetype close = open < 0 ? -1 : source.indexOf(u'%', open + 1);
        if (close < 0) {
            expanded += QStringView(source).mid(at);
            break;
        }
        expanded += QStringView(source).mid(at, open - at);
        const QString name = source.mid(open + 1, close - open - 1);
        const std::optional<QString> value = name.isEmpty() ? std::nullopt : environmentVariable(name);
        expanded += value ? *value : source.mid(open, close - open + 1);
        at = close + 1;
    }
    const quint32 needed = quint32(expanded.size()) + 1;
    if (needed <= size) {
        destination.resize(std::max<qsizetype>(destination.size(), needed));
        std::copy(expanded.cbegin(), expanded.cend(), destination.begin());
        destination[expanded.size()] = QChar(u'\0');
    }
    return needed;
}

bool HostSystemInfo::getVersionEx(OsVersionInfo &info) const {
    if (info.osVersionInfoSize != OsVersionInfo::RecordSize)
        return false;
    utsname system{};
    if (uname(&system) != 0)
        return false;
    parseRelease(system.release, info);
    info.platformId = PlatformIdOther;
    const std::size_t length = std::min(std::strlen(system.version), info.csdVersion.size() - 1);
    std::memcpy(info.csdVersion.data(), system.version, length);
    info.csdVersion[length] = '\0';
    return true;
}

std::optional<QString> HostSystemInfo::environmentVariable(const QString &name) const {
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    return lookupIgnoringCase(environment.keys(), name,
                              [&](const QString &key) { return environment.value(key); });
}

bool FixedSystemInfo::getVersionEx(OsVersionInfo &info) const {
    if (!m_version || info.osVersionInfoSize != OsVersionInfo::RecordSize)
        return false;
    info = *m_version;
    info.osVersionInfoSize = OsVersionInfo::RecordSize;
    return true;
}

std::optional<QString> FixedSystemInfo::environmentVariable(const QString &name) const {
    return lookupIgnoringCase(m_environment.keys(), name,
                              [&](const QString &key) { return m_environment.value(key); });
}

OsVersionInfo FixedSystemInfo::version(quint32 platformId, quint32 major, quint32 minor, quint32 build) {
    OsVersionInfo info;
    info.osVersionInfoSize = OsVersionInfo::RecordSize;
    info.majorVersion = major;
    info.minorVersion = minor;
    info.buildNumber = build;
    info.platformId = platformId;
    return info;
}

} // namespace Orvex
