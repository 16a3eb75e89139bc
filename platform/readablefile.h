#pragma once

#include "privatefiles.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace Orvex {

// How much of a format a reader takes, named so that a refusal says which limit a file broke.
struct ReadLimit {
    qsizetype bytes;
    const char *format; // "settings file", "listings file", ...
};

// The one way a file named by a user or a setting is opened for reading, beside PrivateFiles for writing:
// never through a link at its name, never waiting on a FIFO or device (refused at once), and only a
// regular file. Every refusal names why; callers put the path in front.
class ReadableFile {
public:
    enum class Status { Open, Missing, Refused };

    explicit ReadableFile(const QString &path);

    Status status() const { return m_status; }
    bool isOpen() const { return m_status == Status::Open; }
    // Why the file was not opened or not read; empty while all is well.
    const QString &error() const { return m_error; }
    int descriptor() const { return m_fd.get(); }
    qint64 size() const { return m_size; }

    // The first limit.bytes of the file; the rest is not read.
    QByteArray readHead(qsizetype bytes);
    // The whole file; nothing, with the reason in error(), when it is larger than limit.
    std::optional<QByteArray> readAll(const ReadLimit &limit);

private:
    FileDescriptor m_fd;
    Status m_status = Status::Refused;
    QString m_error;
    qint64 m_size = 0;
};

// A stream that cannot be measured first (standard input, a pipe) read whole, up to limit.bytes: a
// stream that goes on beyond that, such as /dev/zero, is refused as soon as it passes the limit.
std::optional<QByteArray> readStream(int fd, const ReadLimit &limit, QString *error);

// "more than the 16 MiB a settings file may hold", for refusals.
QString beyondLimit(const ReadLimit &limit);

} // namespace Orvex
