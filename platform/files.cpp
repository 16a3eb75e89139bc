#include "files.h"

#include "fileslogging.h"

#include <QFile>
#include <QStringView>

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace Orvex::Files {

namespace {

struct DirCloser {
    void operator()(DIR *dir) const { closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

bool hasWildcard(QStringView name) {
    return name.contains(u'*') || name.contains(u'?');
}

// "*" matches any run of characters, "?" exactly one; nothing else is special (no brackets, no escapes).
bool wildcardMatch(QStringView pattern, QStringView name) {
    qsizetype p = 0;
    qsizetype n = 0;
    qsizetype starAt = -1;
    qsizetype resumeAt = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starAt = p++;
            resumeAt = n;
        } else if (starAt >= 0) {
            // Let the last star swallow one more character and try again from there.
            p = starAt + 1;
            n = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

bool isFolder(const QByteArray &path) {
    struct stat info;
    return ::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool entryExists(const QByteArray &path) {
    struct stat info;
    return ::lstat(path.constData(), &info) == 0;
}

std::optional<QString> scanFolder(const QString &folder, QStringView pattern) {
    const std::optional<QByteArray> encodedFolder = encodedPath(folder);
    if (!encodedFolder)
        return std::nullopt;
    const DirHandle dir(::opendir(encodedFolder->constData()));
    if (!dir) {
        qCDebug(lcFiles) << "cannot list" << folder << std::strerror(errno);
        return std::nullopt;
    }
    // The Windows idiom for "every name", whether or not it holds a dot.
    if (pattern == u"*.*")
        pattern = u"*";
    while (const dirent *entry = ::readdir(dir.get())) {
        if (entry->d_name[0] == '.')
            continue;
        const QString name = QFile::decodeName(entry->d_name);
        if (wildcardMatch(pattern, name))
            return name;
    }
    return std::nullopt;
}

} // namespace

QString nativePath(const QString &path) {
    QString native = path;
    native.replace(u'\\', u'/');
    return native;
}

std::optional<QByteArray> encodedPath(const QString &path) {
    if (path.isEmpty() || path.contains(QChar(u'\0')) || !QStringView(path).isValidUtf16())
        return std::nullopt;
    return QFile::encodeName(nativePath(path));
}

std::optional<QString> findFirst(const QString &pattern) {
    const std::optional<QByteArray> encoded = encodedPath(pattern);
    if (!encoded)
        return std::nullopt;

    const QString native = nativePath(pattern);
    const qsizetype lastSeparator = native.lastIndexOf(u'/');
    const QString name = native.mid(lastSeparator + 1);
    // Like the Windows search, a trailing separator leaves no name to match.
    if (name.isEmpty())
        return std::nullopt;

    if (name == u"." || name == u"..")
        return isFolder(*encoded) ? std::optional<QString>(name) : std::nullopt;
    if (name.startsWith(u'.'))
        return std::nullopt;
    if (!hasWildcard(name))
        return entryExists(*encoded) ? std::optional<QString>(name) : std::nullopt;

    QString folder;
    if (lastSeparator < 0)
        folder = QStringLiteral(".");
    else if (lastSeparator == 0)
        folder = QStringLiteral("/");
    else
        folder = native.left(lastSeparator);
    return scanFolder(folder, name);
}

} // namespace Orvex::Files
