#include "linestream.h"

#include <QFile>

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

} // namespace

LineStream::LineStream(qsizetype maxLineBytes)
    : m_maxLineBytes(maxLineBytes) {}

LineStream::~LineStream() {
    if (m_fd >= 0)
        ::close(m_fd);
}

ReadResult LineStream::open(const QString &path, QString *error) {
    // Non-blocking, so that opening a FIFO does not wait for a writer before it can be refused.
    const QByteArray name = QFile::encodeName(path);
    m_fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (m_fd < 0) {
        if (errno == ENOENT)
            return ReadResult::Missing;
        *error = systemError(errno);
        return ReadResult::Refused;
    }
    struct stat status = {};
    if (::fstat(m_fd, &status) != 0) {
        *error = systemError(errno);
        return ReadResult::Refused;
    }
    if (!S_ISREG(status.st_mode)) {
        *error = S_ISDIR(status.st_mode) ? QStringLiteral("it is a folder, not a file")
                                         : QStringLiteral("it is not a regular file");
        return ReadResult::Refused;
    }
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) & ~O_NONBLOCK);
    return ReadResult::Read;
}

bool LineStream::fill() {
    if (m_atEnd || m_fd < 0)
        return false;
    m_buffer.remove(0, m_position);
    m_position = 0;
    const qsizetype kept = m_buffer.size();
    m_buffer.resize(kept + ChunkBytes);
    ssize_t got;
    do {
        got = ::read(m_fd, m_buffer.data() + kept, ChunkBytes);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        m_error = systemError(errno);
        got = 0;
    }
    m_buffer.resize(kept + got);
    if (got == 0)
        m_atEnd = true;
    return got > 0;
}

bool LineStream::next(QByteArray *line, bool *truncated) {
    line->clear();
    *truncated = false;
    for (;;) {
        const qsizetype newline = m_buffer.indexOf('\n', m_position);
        const qsizetype end = newline < 0 ? m_buffer.size() : newline + 1;
        const qsizetype room = m_maxLineBytes - line->size();
        if (end - m_position > room) {
            *truncated = true;
            line->append(m_buffer.constData() + m_position, std::max<qsizetype>(room, 0));
        } else if (!*truncated) {
            line->append(m_buffer.constData() + m_position, end - m_position);
        }
        m_position = end;
        if (newline >= 0)
            return true;
        if (!fill())
            return !line->isEmpty() || *truncated;
    }
}

} // namespace Orvex
