#include "csvlistingfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryFile>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace Orvex {

namespace {

// A few dozen listings at a time: what a board holds ahead of its postings.
constexpr qsizetype CursorChunkBytes = 4 * 1024;

} // namespace

CsvListingCursor::CsvListingCursor(int fd, const CsvFormat &format)
    : m_fd(fd)
    , m_reader(format) {}

std::optional<CsvListing> CsvListingCursor::next(QString *error) {
    QByteArray chunk;
    while (m_readyAt == m_ready.size()) {
        if (m_ended)
            return std::nullopt;
        chunk.resize(CursorChunkBytes);
        const ssize_t read = ::pread(m_fd, chunk.data(), std::size_t(chunk.size()), m_offset);
        if (read < 0 && errno == EINTR)
            continue;
        if (read < 0) {
            *error = QString::fromLocal8Bit(std::strerror(errno));
            return std::nullopt;
        }
        m_offset += read;
        const bool ok = read > 0 ? m_reader.feed(QByteArrayView(chunk.constData(), read)) : m_reader.finish();
        m_ended = read == 0;
        if (!ok) {
            *error = m_reader.error();
            return std::nullopt;
        }
        m_ready = m_reader.takeListings();
        m_readyAt = 0;
    }
    return std::move(m_ready[m_readyAt++]);
}

CsvListingFile::CsvListingFile(const CsvFormat &format)
    : m_format(format) {}

CsvListingFile::~CsvListingFile() = default;

std::unique_ptr<CsvListingFile> CsvListingFile::check(const QString &path, const CsvFormat &format,
                                                      const std::function<void(const CsvListing &)> &look,
                                                      QString *error) {
    std::unique_ptr<CsvListingFile> file(new CsvListingFile(format));
    QFile device;
    const bool standardInput = path == QLatin1StringView("-");
    if (standardInput) {
        file->m_copy =
            std::make_unique<QTemporaryFile>(QDir::tempPath() + QStringLiteral("/orvex-postjob-XXXXXX.csv"));
        if (!file->m_copy->open()) {
            *error = QStringLiteral("cannot keep standard input for posting in %1: %2")
                         .arg(QDir::tempPath(), file->m_copy->errorString());
            return nullptr;
        }
        file->m_fd = int(file->m_copy->handle());
        device.open(STDIN_FILENO, QIODevice::ReadOnly, QFileDevice::DontCloseHandle);
    } else {
        file->m_file.emplace(path);
        if (!file->m_file->isOpen()) {
            *error = QStringLiteral("cannot read %1: %2")
                         .arg(path, file->m_file->status() == ReadableFile::Status::Missing
                                        ? QStringLiteral("no such file")
                                        : file->m_file->error());
            return nullptr;
        }
        file->m_fd = file->m_file->descriptor();
        device.open(file->m_fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle);
    }
    const bool read = readCsvListings(
        &device, format,
        [&](CsvListing &&listing) {
            look(listing);
            ++file->m_size;
        },
        error, file->m_copy.get());
    if (read && file->m_copy && !file->m_copy->flush()) {
        *error = QStringLiteral("cannot keep standard input for posting in %1: %2")
                     .arg(QDir::tempPath(), file->m_copy->errorString());
        return nullptr;
    }
    if (!read) {
        *error =
            QStringLiteral("%1: %2").arg(standardInput ? QStringLiteral("standard input") : path, *error);
        return nullptr;
    }
    return file;
}

} // namespace Orvex
