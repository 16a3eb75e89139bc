#pragma once

#include "csvlistings.h"
#include "readablefile.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QTemporaryFile;

namespace Orvex {

// Reads a checked CSV file's listings again from its start, a chunk at a time: what it holds in memory
// is one chunk's listings, however large the file.
class CsvListingCursor {
public:
    CsvListingCursor(int fd, const CsvFormat &format);

    // The next listing; nothing at the end, or with *error when the file no longer reads as it did.
    std::optional<CsvListing> next(QString *error);

private:
    int m_fd;
    qint64 m_offset = 0;
    CsvListingReader m_reader;
    QList<CsvListing> m_ready;
    qsizetype m_readyAt = 0;
    bool m_ended = false;
};

// A CSV listings file checked whole before anything is posted, then read again as it is posted, so that
// a file breaking one rule is refused whole and a large one is never held. Standard input is kept for
// the second reading in a temporary file, removed at the end.
class CsvListingFile {
public:
    ~CsvListingFile();

    // Reads path ("-": standard input) through once, handing each listing to look; nothing, with *error
    // naming the file and, for its text, the line and column, when it cannot be read or breaks a rule.
    static std::unique_ptr<CsvListingFile> check(const QString &path, const CsvFormat &format,
                                                 const std::function<void(const CsvListing &)> &look,
                                                 QString *error);

    qsizetype size() const { return m_size; }
    std::unique_ptr<CsvListingCursor> cursor() const {
        return std::make_unique<CsvListingCursor>(m_fd, m_format);
    }

private:
    explicit CsvListingFile(const CsvFormat &format);

    CsvFormat m_format;
    std::optional<ReadableFile> m_file;
    std::unique_ptr<QTemporaryFile> m_copy;
    int m_fd = -1;
    qsizetype m_size = 0;
};

} // namespace Orvex
