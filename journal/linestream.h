#pragma once

#include <QByteArray>
#include <QString>

#include "readablefile.h"

#include <optional>

namespace Orvex {

// What reading a log or journal came to: Missing when there is no such file, Refused for anything else
// that cannot be read as one.
enum class ReadResult { Read, Missing, Refused };

// A log or journal file read one line at a time, in memory bounded by the longest line kept, whatever the
// file's size. Only a regular file is read, opened as ReadableFile opens it: a FIFO would block and a
// device such as /dev/zero never ends.
class LineStream {
public:
    explicit LineStream(qsizetype maxLineBytes);
    ~LineStream();
    LineStream(const LineStream &) = delete;
    LineStream &operator=(const LineStream &) = delete;

    // Read once the file is open to be read; Refused with the reason in *error.
    ReadResult open(const QString &path, QString *error);

    // The next line, up to its LF (kept when present); a longer line than maxLineBytes is cut there, the
    // rest skipped, and *truncated set. False at the end of the file or on a read error (see error()).
    bool next(QByteArray *line, bool *truncated);

    const QString &error() const { return m_error; }

private:
    bool fill();

    qsizetype m_maxLineBytes;
    std::optional<ReadableFile> m_file;
    QByteArray m_buffer;
    qsizetype m_position = 0;
    bool m_atEnd = false;
    QString m_error;
};

} // namespace Orvex
