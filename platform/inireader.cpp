#include "inireader.h"
#include "textscan_p.h"

#include "files.h"

#include <QByteArrayView>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Orvex {

namespace {

using TextScan::isBlankChar;
using TextScan::trimBlanks;

constexpr QByteArrayView Utf8Bom("\xEF\xBB\xBF");

class FileDescriptor {
public:
    explicit FileDescriptor(int fd)
        : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Q_DISABLE_COPY_MOVE(FileDescriptor)
    int get() const { return m_fd; }

private:
    int m_fd;
};

// The first maxBytes of a regular file; empty for anything else. Opened without blocking, so that a FIFO
// planted in place of the file cannot hold the caller.
QByteArray readHead(const QString &filePath, qsizetype maxBytes) {
    // A name that cannot name a file (empty, an embedded NUL) is a missing file.
    const std::optional<QByteArray> path = Files::encodedPath(filePath);
    if (!path)
        return {};
    const FileDescriptor file(::open(path->constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat status {};
    if (file.get() < 0 || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return {};
    QByteArray content(qsizetype(std::min<off_t>(status.st_size, off_t(maxBytes))), Qt::Uninitialized);
    qsizetype filled = 0;
    while (filled < content.size()) {
        const ssize_t got = ::read(file.get(), content.data() + filled, size_t(content.size() - filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        filled += got;
    }
    content.truncate(filled);
    return content;
}

QStringView unquote(QStringView value) {
    if (value.size() >= 2) {
        const QChar open = value.front();
        if ((open == u'"' || open == u'\'') && value.back() == open)
            return value.mid(1, value.size() - 2);
    }
    return value;
}

// The platform call drops the default's trailing blanks; a value read from the file keeps its own rules.
QStringView withoutTrailingBlanks(QStringView text) {
    while (!text.isEmpty() && isBlankChar(text.back()))
        text.chop(1);
    return text;
}

char firstNonBlank(QByteArrayView line) {
    const auto first = std::find_if(line.begin(), line.end(), [](char c) { return c != ' ' && c != '\t'; });
    return first == line.end() ? '\0' : *first;
}

// The name of the section a trimmed "[...]" line opens; an unclosed bracket runs to the line's end.
QStringView sectionNameOf(QStringView trimmedLine) {
    const qsizetype close = trimmedLine.indexOf(u']');
    return trimBlanks(close < 0 ? trimmedLine.mid(1) : trimmedLine.mid(1, close - 1));
}

} // namespace

ProfileFile::ProfileFile(const QString &filePath)
    : m_content(readHead(filePath, MaxFileBytes)) {
    if (m_content.startsWith(Utf8Bom))
        m_content.remove(0, Utf8Bom.size());
}

std::optional<QString> ProfileFile::value(QStringView section, QStringView key) const {
    bool inSection = false;
    for (QByteArrayView rest(m_content); !rest.isEmpty();) {
        const qsizetype lineEnd = rest.indexOf('\n');
        QByteArrayView line = lineEnd < 0 ? rest : rest.first(lineEnd);
        rest = lineEnd < 0 ? QByteArrayView() : rest.sliced(lineEnd + 1);

        // Outside the section only a section line can change the outcome: skip the rest undecoded.
        const char first = firstNonBlank(line);
        if (first != '[' && !inSection)
            continue;
        line = line.first(std::min(line.size(), LineHeadBytes));
        while (line.endsWith('\r'))
            line.chop(1);
        const QString text = QString::fromUtf8(line);
        const QStringView trimmed = trimBlanks(text);
        if (trimmed.isEmpty() || trimmed.front() == u';')
            continue;
        if (trimmed.front() == u'[') {
            // Once the first matching section is over, later ones of the same name are not consulted.
            if (inSection)
                return std::nullopt;
            inSection = sectionNameOf(trimmed).compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        const qsizetype equals = trimmed.indexOf(u'=');
        if (equals >= 0 && trimBlanks(trimmed.left(equals)).compare(key, Qt::CaseInsensitive) == 0)
            return unquote(trimBlanks(trimmed.mid(equals + 1))).toString();
    }
    return std::nullopt;
}

QStringList ProfileFile::sectionNames() const {
    QStringList names;
    for (QByteArrayView rest(m_content); !rest.isEmpty();) {
        const qsizetype lineEnd = rest.indexOf('\n');
        QByteArrayView line = lineEnd < 0 ? rest : rest.first(lineEnd);
        rest = lineEnd < 0 ? QByteArrayView() : rest.sliced(lineEnd + 1);
        if (firstNonBlank(line) != '[')
            continue;
        while (line.endsWith('\r'))
            line.chop(1);
        const QString text = QString::fromUtf8(line.first(std::min(line.size(), LineHeadBytes)));
        const QString name = sectionNameOf(trimBlanks(text)).toString();
        // A later section of the same name is never consulted, so it is not listed either.
        if (!names.contains(name, Qt::CaseInsensitive))
            names.append(name);
    }
    return names;
}

qint32 readProfileString(const QString &section, const QString &key, const QString &defaultValue,
                         QString &buffer, qint32 bufferSize, const QString &filePath) {
    if (bufferSize <= 0)
        return 0;
    const std::optional<QString> found = ProfileFile(filePath).value(section, key);
    const QStringView value = found ? QStringView(*found) : withoutTrailingBlanks(defaultValue);

    qsizetype count = std::min<qsizetype>(value.size(), bufferSize - 1);
    // Never leave half of a surrogate pair at the end.
    if (count > 0 && count < value.size() && value.at(count - 1).isHighSurrogate())
        --count;
    buffer.fill(QChar(u'\0'), bufferSize);
    for (qsizetype i = 0; i < count; ++i)
        buffer[i] = value.at(i);
    return qint32(count);
}

} // namespace Orvex
