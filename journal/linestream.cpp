#include "linestream.h"

#include <cerrno>
#include <cstring>
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

LineStream::~LineStream() = default;

ReadResult LineStream::open(const QString &path, QString *error) {
    ReadableFile file(path);
    switch (file.status()) {
    case ReadableFile::Status::Open:
        m_file = std::move(file);
        return ReadResult::Read;
    case ReadableFile::Status::Missing:
        return ReadResult::Missing;
    case ReadableFile::Status::Refused:
        break;
    }
    *error = file.error();
    return ReadResult::Refused;
}

bool LineStream::fill() {
    if (m_atEnd || !m_file || !m_file->isOpen())
        return false;
    m_buffer.remove(0, m_position);
    m_position = 0;
    const qsizetype kept = m_buffer.size();
    m_buffer.resize(kept + ChunkBytes);
    ssize_t got;
    do {
        got = ::read(m_file->descriptor(), m_buffer.data() + kept, ChunkBytes);
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
