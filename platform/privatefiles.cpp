#include "privatefiles.h"

#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Orvex {

FileDescriptor::~FileDescriptor() {
    if (m_fd >= 0)
        ::close(m_fd);
}

FileDescriptor &FileDescriptor::operator=(FileDescriptor &&other) noexcept {
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.release();
    }
    return *this;
}

namespace PrivateFiles {

namespace {

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// A temporary name beside the file, hidden from folder listings and from the bus's scan of *.service.
QByteArray temporaryName(const QByteArray &name) {
    return '.' + name + '.' + QByteArray::number(QRandomGenerator::global()->generate64(), 36) + ".new";
}

// The file at name that replaceFile is about to take the place of, if any, must be one the user could have
// written through openFile: replacing another user's file or link is as much a write as following it.
QString existingFileRefusal(int folder, const QByteArray &name) {
    struct stat status {};
    if (::fstatat(folder, name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? QString() : systemError(errno);
    return fileRefusal(status);
}

} // namespace

bool writeAll(int fd, QByteArrayView contents) {
    while (!contents.isEmpty()) {
        const ssize_t written = ::write(fd, contents.data(), size_t(contents.size()));
        if (written < 0 && errno == EINTR)
            continue;
        if (written == 0)
            errno = ENOSPC;
        if (written <= 0)
            return false;
        contents = contents.sliced(written);
    }
    return true;
}

QString folderRefusal(const struct stat &status) {
    if (S_ISLNK(status.st_mode))
        return QStringLiteral("is a symbolic link");
    if (!S_ISDIR(status.st_mode))
        return QStringLiteral("is not a folder");
    if (status.st_uid != ::geteuid())
        return QStringLiteral("belongs to another user (uid %1)").arg(status.st_uid);
    if (status.st_mode & (S_IWGRP | S_IWOTH))
        return QStringLiteral("can be written by its group or by others (mode %1)")
            .arg(status.st_mode & 07777, 4, 8, QLatin1Char('0'));
    return QString();
}

QString fileRefusal(const struct stat &status) {
    if (S_ISLNK(status.st_mode))
        return QStringLiteral("is a symbolic link");
    if (!S_ISREG(status.st_mode))
        return QStringLiteral("is not a regular file");
    if (status.st_uid != ::geteuid())
        return QStringLiteral("belongs to another user (uid %1)").arg(status.st_uid);
    if (status.st_nlink != 1)
        return QStringLiteral("has %1 names (hard links)").arg(status.st_nlink);
    return QString();
}

FileDescriptor openFolder(const QByteArray &folder, QString *refusal) {
    // O_PATH opens anything without side effects, a link included, so folderRefusal sees what is there.
    FileDescriptor fd(::open(folder.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.isValid()) {
        *refusal = systemError(errno);
        return fd;
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        *refusal = systemError(errno);
        return FileDescriptor();
    }
    *refusal = folderRefusal(status);
    return refusal->isEmpty() ? std::move(fd) : FileDescriptor();
}

FileDescriptor openFile(int folder, const QByteArray &name, int flags, QString *refusal) {
    // O_NONBLOCK: a fifo at the name must not hold the call until someone reads it.
    FileDescriptor fd(
        ::openat(folder, name.constData(), flags | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, FileMode));
    if (!fd.isValid()) {
        *refusal = errno == ELOOP ? QStringLiteral("is a symbolic link") : systemError(errno);
        return fd;
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        *refusal = systemError(errno);
        return FileDescriptor();
    }
    *refusal = fileRefusal(status);
    if (!refusal->isEmpty())
        return FileDescriptor();
    // A file of an earlier version may still be readable by others.
    if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0 && ::fchmod(fd.get(), status.st_mode & S_IRWXU) != 0) {
        *refusal = QStringLiteral("cannot be made private: ") + systemError(errno);
        return FileDescriptor();
    }
    const int statusFlags = ::fcntl(fd.get(), F_GETFL);
    if (statusFlags >= 0)
        ::fcntl(fd.get(), F_SETFL, statusFlags & ~O_NONBLOCK);
    return fd;
}

bool makeFolders(const QByteArray &folder, QString *refusal) {
    for (qsizetype slash = folder.indexOf('/', 1);; slash = folder.indexOf('/', slash + 1)) {
        const QByteArray part = slash < 0 ? folder : folder.left(slash);
        if (!part.isEmpty() && ::mkdir(part.constData(), FolderMode) != 0 && errno != EEXIST) {
            *refusal =
                QString::fromLocal8Bit(part) + QStringLiteral(" cannot be made: ") + systemError(errno);
            return false;
        }
        if (slash < 0)
            return true;
    }
}

bool replaceFile(const QByteArray &path, const QByteArray &contents, QString *refusal) {
    const auto [folderPath, name] = splitPath(path);
    if (name.isEmpty()) {
        *refusal = QStringLiteral("names no file");
        return false;
    }
    if (!makeFolders(folderPath, refusal))
        return false;
    QString why;
    const FileDescriptor folder = openFolder(folderPath, &why);
    if (!folder.isValid()) {
        *refusal = QStringLiteral("its folder ") + QString::fromLocal8Bit(folderPath) + u' ' + why;
        return false;
    }
    why = existingFileRefusal(folder.get(), name);
    if (!why.isEmpty()) {
        *refusal = why;
        return false;
    }

    QByteArray temporary;
    FileDescriptor file;
    for (int attempt = 0; attempt < 16 && !file.isValid(); ++attempt) {
        temporary = temporaryName(name);
        file = FileDescriptor(::openat(folder.get(), temporary.constData(),
                                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, FileMode));
        if (!file.isValid() && errno != EEXIST)
            break;
    }
    if (!file.isValid()) {
        *refusal = systemError(errno);
        return false;
    }
    int error = 0;
    if (!writeAll(file.get(), contents) || ::fsync(file.get()) != 0)
        error = errno;
    if (::close(file.release()) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::renameat(folder.get(), temporary.constData(), folder.get(), name.constData()) != 0)
        error = errno;
    if (error != 0) {
        *refusal = systemError(error);
        ::unlinkat(folder.get(), temporary.constData(), 0);
        return false;
    }
    return true;
}

std::pair<QByteArray, QByteArray> splitPath(const QByteArray &path) {
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return {QByteArrayLiteral("."), path};
    return {slash == 0 ? QByteArrayLiteral("/") : path.left(slash), path.mid(slash + 1)};
}

} // namespace PrivateFiles

} // namespace Orvex
