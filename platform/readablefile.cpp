#include "readablefile.h"

#include "files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Orvex {

namespace {

constexpr qsizetype ChunkBytes = 64 * 1024;

QString systemError(int number) {
    return QString::fromLocal8Bit(std::strerror(number));
}

QString notRegularReason(mode_t mode) {
    if (S_ISDIR(mode))
        return QStringLiteral("it is a folder, not a file");
    return QStringLiteral("it is not a regular file");
}

// Appends what fd gives until the end or until content holds more than most bytes; false on a read error.
bool readInto(int fd, qsizetype most, QByteArray *content, QString *error) {
    while (content->size() <= most) {
        const qsizetype kept = content->size();
        const qsizetype want = std::min(ChunkBytes, most + 1 - kept);
        content->resize(kept + want);
        ssize_t got;
        do {
            got = ::read(fd, content->data() + kept, size_t(want));
        } while (got < 0 && errno == EINTR);
        content->resize(kept + std::max<ssize_t>(got, 0));
        if (got < 0) {
            *error = systemError(errno);
            return false;
        }
        if (got == 0)
            break;
    }
    return true;
}

} // namespace

ReadableFile::ReadableFile(const QString &path) {
    const std::optional<QByteArray> name = Files::encodedPath(path);
    if (!name) {
        m_status = Status::Missing;
        return;
    }
    m_fd =
        FileDescriptor(::open(name->constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!m_fd.isValid()) {
        m_status = errno == ENOENT || errno == ENOTDIR ? Status::Missing : Status::Refused;
        m_error = errno == ELOOP ? QStringLiteral("it is a symbolic link") : systemError(errno);
        return;
    }
    struct stat status {};
    if (::fstat(m_fd.get(), &status) != 0) {
        m_error = systemError(errno);
        return;
    }
    if (!S_ISREG(status.st_mode)) {
        m_error = notRegularReason(status.st_mode);
        return;
    }
    // Reads from here on may wait, as reads of a regular file do.
    ::fcntl(m_fd.get(), F_SETFL, ::fcntl(m_fd.get(), F_GETFL) & ~O_NONBLOCK);
    m_size = status.st_size;
    m_status = Status::Open;
}

QByteArray ReadableFile::readHead(qsizetype bytes) {
    QByteArray content;
    if (isOpen() && !readInto(m_fd.get(), bytes - 1, &content, &m_error))
        m_status = Status::Refused;
    content.truncate(bytes);
    return content;
}

std::optional<QByteArray> ReadableFile::readAll(const ReadLimit &limit) {
    if (!isOpen())
        return std::nullopt;
    if (m_size > limit.bytes) {
        m_error = beyondLimit(limit);
        return std::nullopt;
    }
    // A file that grows while read is held to the same limit.
    std::optional<QByteArray> content = readStream(m_fd.get(), limit, &m_error);
    if (!content)
        m_status = Status::Refused;
    return content;
}

std::optional<QByteArray> readStream(int fd, const ReadLimit &limit, QString *error) {
    QByteArray content;
    if (!readInto(fd, limit.bytes, &content, error))
        return std::nullopt;
    if (content.size() > limit.bytes) {
        *error = beyondLimit(limit);
        return std::nullopt;
    }
    return content;
}

QString beyondLimit(const ReadLimit &limit) {
    return QStringLiteral("it holds more than the %1 MiB a %2 may hold")
        .arg(limit.bytes / (1024 * 1024))
        .arg(QLatin1StringView(limit.format));
}

} // namespace Orvex
