#include "appendfile.h"

#include "postinglogging.h"

#include "files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
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

// Takes back the first `written` bytes of a record that did not go in whole (a full disk, the file size
// limit), so no torn record stays behind. Only while they are still the file's tail: once another process
// has appended after them, cutting them out would cut its record too.
void undoPartialWrite(int fd, const QString &path, ssize_t written) {
    const off_t end = ::lseek(fd, 0, SEEK_CUR); // O_APPEND left the offset just past our bytes
    struct stat status {};
    if (end < written || ::fstat(fd, &status) != 0 || status.st_size != end) {
        qCWarning(lcPosting) << "a partial record could not be taken back from" << path;
        return;
    }
    if (::ftruncate(fd, end - written) != 0)
        qCWarning(lcPosting) << "a partial record could not be taken back from" << path
                             << std::strerror(errno);
}

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
        if (written > 0)
            undoPartialWrite(fd.get(), path, written);
        return false;
    }
    return true;
}

} // namespace Orvex
