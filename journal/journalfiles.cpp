#include "journalfiles.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Orvex::JournalFiles {

QString refusal(int folder, const QByteArray &name) {
    for (const char *suffix : Suffixes) {
        const QByteArray fileName = name + suffix;
        struct stat status {};
        if (::fstatat(folder, fileName.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT)
                continue;
            return QString::fromLocal8Bit(fileName) + QStringLiteral(": ") +
                   QString::fromLocal8Bit(std::strerror(errno));
        }
        if (const QString why = PrivateFiles::fileRefusal(status); !why.isEmpty())
            return QString::fromLocal8Bit(fileName) + u' ' + why;
    }
    return QString();
}

QByteArray resolvedPath(int folder) {
    char target[PATH_MAX];
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(folder);
    const ssize_t length = ::readlink(link.constData(), target, sizeof target);
    // A folder removed meanwhile reads as "... (deleted)", which is no path to open.
    if (length <= 0 || length == ssize_t(sizeof target) || target[0] != '/')
        return QByteArray();
    const QByteArray path(target, length);
    struct stat byPath {};
    struct stat byHandle {};
    if (::stat(path.constData(), &byPath) != 0 || ::fstat(folder, &byHandle) != 0 ||
        byPath.st_dev != byHandle.st_dev || byPath.st_ino != byHandle.st_ino)
        return QByteArray();
    return path;
}

bool isSameFile(int folder, const QByteArray &name, int file) {
    struct stat byName {};
    struct stat byHandle {};
    return ::fstatat(folder, name.constData(), &byName, AT_SYMLINK_NOFOLLOW) == 0 &&
           ::fstat(file, &byHandle) == 0 && byName.st_dev == byHandle.st_dev &&
           byName.st_ino == byHandle.st_ino;
}

} // namespace Orvex::JournalFiles
