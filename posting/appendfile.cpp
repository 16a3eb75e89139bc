#include "appendfile.h"
#include "appendfile_p.h"

#include "postinglogging.h"

#include "files.h"
#include "privatefiles.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <list>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace Orvex {

namespace {

// A file appended to before and kept open, with its folder and itself as they were when checked.
struct OpenFile {
    QByteArray folderPath;
    QByteArray path;
    FileDescriptor fd;
    struct stat folder {};
    struct stat file {};
};

// The same object, unchanged in what the checks at opening looked at.
bool isUnchanged(const struct stat &now, const struct stat &checked, bool file) {
    return now.st_dev == checked.st_dev && now.st_ino == checked.st_ino && now.st_mode == checked.st_mode &&
           now.st_uid == checked.st_uid && (!file || now.st_nlink == checked.st_nlink);
}

// Whether the folder and the name still lead to the file as it was opened and checked: a file deleted,
// renamed, replaced, linked to or made readable by others, or a folder replaced or opened to others, is
// opened (or refused) again, just as a record appended by a fresh open would be.
bool stillAsOpened(const OpenFile &open) {
    struct stat folder {};
    struct stat file {};
    return ::fstatat(AT_FDCWD, open.folderPath.constData(), &folder, AT_SYMLINK_NOFOLLOW) == 0 &&
           isUnchanged(folder, open.folder, false) &&
           ::fstatat(AT_FDCWD, open.path.constData(), &file, AT_SYMLINK_NOFOLLOW) == 0 &&
           isUnchanged(file, open.file, true);
}

// The files appended to last, kept open so that a record costs two checks and a write instead of opening
// the folder and the file again; a posting writes two records to the day's log.
class OpenFiles {
public:
    // Writes bytes with one write() to the file at path, opened and checked unless it still is; false with
    // the reason when it may not be written or the write failed. Writes of several threads go in whole.
    bool append(const QByteArray &path, const QByteArray &bytes, QString *reason) {
        const std::lock_guard lock(m_mutex);
        auto open = std::find_if(m_files.begin(), m_files.end(),
                                 [&](const OpenFile &file) { return file.path == path; });
        if (open != m_files.end() && !stillAsOpened(*open)) {
            m_files.erase(open);
            open = m_files.end();
        }
        if (open == m_files.end()) {
            std::optional<OpenFile> opened = openChecked(path, reason);
            if (!opened)
                return false;
            m_files.push_front(std::move(*opened));
            if (m_files.size() > MostOpen)
                m_files.pop_back();
            open = m_files.begin();
        } else if (open != m_files.begin()) {
            m_files.splice(m_files.begin(), m_files, open);
        }
        return write(open->fd.get(), path, bytes, reason);
    }

private:
    static constexpr std::size_t MostOpen = 4;

    static std::optional<OpenFile> openChecked(const QByteArray &path, QString *reason) {
        OpenFile open;
        open.path = path;
        QByteArray name;
        std::tie(open.folderPath, name) = PrivateFiles::splitPath(path);
        // The file is opened through the folder it was checked in, so a folder swapped meanwhile is not used.
        const FileDescriptor folder = PrivateFiles::openFolder(open.folderPath, reason);
        if (!folder.isValid()) {
            *reason =
                QStringLiteral("its folder ") + QString::fromLocal8Bit(open.folderPath) + u' ' + *reason;
            return std::nullopt;
        }
        open.fd = PrivateFiles::openFile(folder.get(), name, O_WRONLY | O_APPEND | O_CREAT, reason);
        if (!open.fd.isValid())
            return std::nullopt;
        if (::fstat(folder.get(), &open.folder) != 0 || ::fstat(open.fd.get(), &open.file) != 0) {
            *reason = QString::fromLocal8Bit(std::strerror(errno));
            return std::nullopt;
        }
        return open;
    }

    static bool write(int fd, const QByteArray &path, const QByteArray &bytes, QString *reason) {
        ssize_t written;
        do {
            written = ::write(fd, bytes.constData(), size_t(bytes.size()));
        } while (written < 0 && errno == EINTR);
        if (written == ssize_t(bytes.size()))
            return true;
        *reason = written < 0 ? QString::fromLocal8Bit(std::strerror(errno)) : QStringLiteral("short write");
        if (written > 0)
            takeBackPartialRecord(fd, QString::fromLocal8Bit(path), written);
        return false;
    }

    std::mutex m_mutex;
    std::list<OpenFile> m_files; // the one written last first
};

OpenFiles &openFiles() {
    static OpenFiles files;
    return files;
}

} // namespace

bool takeBackPartialRecord(int fd, const QString &path, ssize_t written) {
    // Once another process has appended after our bytes, cutting them out would cut its record too.
    const off_t end = ::lseek(fd, 0, SEEK_CUR); // O_APPEND left the offset just past our bytes
    struct stat status {};
    if (end < written || ::fstat(fd, &status) != 0 || status.st_size != end) {
        qCWarning(lcPosting) << "a partial record could not be taken back from" << path;
        return false;
    }
    if (::ftruncate(fd, end - written) != 0) {
        qCWarning(lcPosting) << "a partial record could not be taken back from" << path
                             << std::strerror(errno);
        return false;
    }
    return true;
}

bool appendToFile(const QString &path, const QByteArray &bytes, QString *whyNot) {
    QString reason;
    const auto refuse = [&](const QString &why) {
        qCDebug(lcPosting).noquote() << "not written:" << path << why;
        if (whyNot)
            *whyNot = why;
        return false;
    };
    const std::optional<QByteArray> nativePath = Files::encodedPath(path);
    if (!nativePath)
        return refuse(QStringLiteral("not a file name"));
    if (!openFiles().append(*nativePath, bytes, &reason))
        return refuse(reason);
    return true;
}

} // namespace Orvex
