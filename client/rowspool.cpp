#include "rowspool.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace Orvex {

namespace {

constexpr qsizetype ReadBytes = 256 * 1024;

QString errnoText() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// A file in folder that no other user can open and that leaves nothing behind: unnamed where the file
// system allows it, else named only until its name is removed again.
FileDescriptor unnamedFile(const QByteArray &folder) {
    FileDescriptor file(::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, PrivateFiles::FileMode));
    if (file.isValid())
        return file;
    QByteArray path = folder + "/orvex-history-XXXXXX";
    file = FileDescriptor(::mkostemp(path.data(), O_CLOEXEC));
    if (file.isValid())
        ::unlink(path.constData());
    return file;
}

// Hands each whole line of bytes to each; returns where the unfinished last line starts.
qsizetype splitLines(QByteArrayView bytes, const std::function<void(QByteArrayView)> &each) {
    qsizetype start = 0;
    for (qsizetype end = bytes.indexOf('\n'); end >= 0; end = bytes.indexOf('\n', start)) {
        each(bytes.sliced(start, end - start));
        start = end + 1;
    }
    return start;
}

} // namespace

bool RowSpool::append(QByteArrayView line, QString *why) {
    m_buffer += line;
    m_buffer += '\n';
    return m_buffer.size() <= m_memoryBytes || spill(why);
}

bool RowSpool::spill(QString *why) {
    if (!m_file.isValid()) {
        const QByteArray folder = QFile::encodeName(QDir::tempPath());
        m_file = unnamedFile(folder);
        if (!m_file.isValid()) {
            *why = QStringLiteral("cannot make a temporary file in %1: %2")
                       .arg(QFile::decodeName(folder), errnoText());
            return false;
        }
    }
    if (!PrivateFiles::writeAll(m_file.get(), m_buffer)) {
        *why = QStringLiteral("cannot write a temporary file in %1: %2").arg(QDir::tempPath(), errnoText());
        return false;
    }
    m_buffer.clear();
    return true;
}

bool RowSpool::replay(const std::function<void(QByteArrayView)> &each, QString *why) {
    if (m_file.isValid()) {
        if (::lseek(m_file.get(), 0, SEEK_SET) < 0) {
            *why = QStringLiteral("cannot read a temporary file back: %1").arg(errnoText());
            return false;
        }
        QByteArray chunk;
        for (;;) {
            const qsizetype kept = chunk.size();
            chunk.resize(kept + ReadBytes);
            const ssize_t read = ::read(m_file.get(), chunk.data() + kept, size_t(ReadBytes));
            if (read < 0 && errno == EINTR) {
                chunk.resize(kept);
                continue;
            }
            if (read < 0) {
                *why = QStringLiteral("cannot read a temporary file back: %1").arg(errnoText());
                return false;
            }
            chunk.resize(kept + read);
            if (read == 0)
                break;
            chunk.remove(0, splitLines(chunk, each));
        }
        // Every line in the file ended in '\n': nothing is left over.
    }
    splitLines(m_buffer, each);
    return true;
}

} // namespace Orvex
