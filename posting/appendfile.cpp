#include "appendfile.h"

#include "postinglogging.h"

#include "files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace Orvex {

namespace {

// Closes the descriptor on every way out.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd)
        : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

bool appendToFile(const QString &path, const QByteArray &bytes) {
    const std::optional<QByteArray> nativePath = Files::encodedPath(path);
    if (!nativePath) {
        qCDebug(lcPosting) << "not a file name:" << path;
        return false;
    }
    const FileDescriptor fd(::open(nativePath->constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    if (fd.get() < 0) {
        qCDebug(lcPosting) << "cannot open" << path << std::strerror(errno);
        return false;
    }
    ssize_t written;
    do {
        written = ::write(fd.get(), bytes.constData(), size_t(bytes.size()));
    } while (written < 0 && errno == EINTR);
    if (written != ssize_t(bytes.size())) {
        qCDebug(lcPosting) << "cannot write" << path << (written < 0 ? std::strerror(errno) : "short write");
        return false;
    }
    return true;
}

} // namespace Orvex
