#include "appendfile.h"
#include "appendfile_p.h"

#include "postinglogging.h"

#include "files.h"
#include "privatefiles.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Orvex {

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
    const auto [folderPath, name] = PrivateFiles::splitPath(*nativePath);
    // The file is opened through the folder it was checked in, so a folder swapped meanwhile is not used.
    const FileDescriptor folder = PrivateFiles::openFolder(folderPath, &reason);
    if (!folder.isValid())
        return refuse(QStringLiteral("its folder ") + QString::fromLocal8Bit(folderPath) + u' ' + reason);
    const FileDescriptor fd =
        PrivateFiles::openFile(folder.get(), name, O_WRONLY | O_APPEND | O_CREAT, &reason);
    if (!fd.isValid())
        return refuse(reason);

    ssize_t written;
    do {
        written = ::write(fd.get(), bytes.constData(), size_t(bytes.size()));
    } while (written < 0 && errno == EINTR);
    if (written != ssize_t(bytes.size())) {
        reason = written < 0 ? QString::fromLocal8Bit(std::strerror(errno)) : QStringLiteral("short write");
        if (written > 0)
            takeBackPartialRecord(fd.get(), path, written);
        return refuse(reason);
    }
    return true;
}

} // namespace Orvex
