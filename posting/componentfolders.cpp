#include "componentfolders.h"

#include "files.h"
#include "postinglogging.h"
#include "privatefiles.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Orvex {

namespace {

// Where a per-user or system folder keeps the component's files.
QString componentFolderIn(const QString &base) {
    return base + QStringLiteral("/OrvexKelPostJob");
}

// Opens folder as PrivateFiles::openFolder does; an empty or unencodable path names no folder.
FileDescriptor openCheckedFolder(const QString &folder, QString *refusal) {
    const std::optional<QByteArray> path = Files::encodedPath(folder);
    if (!path) {
        *refusal = QStringLiteral("names no folder");
        return FileDescriptor();
    }
    return PrivateFiles::openFolder(*path, refusal);
}

bool isFile(const QString &path) {
    return QFileInfo(Files::nativePath(path)).isFile();
}

} // namespace

ComponentFolders::ComponentFolders(QString programFolder, XdgFolders xdg, QString installFolder)
    : m_programFolder(std::move(programFolder))
    , m_xdg(std::move(xdg))
    , m_installFolder(std::move(installFolder)) {}

QString ComponentFolders::filesFolder() const {
    // Root passes the ownership rule in /usr/bin as well: an installed server never writes there.
    if (!runsFromInstallFolder() && folderRefusal(m_programFolder).isEmpty())
        return m_programFolder;
    const QString userFolder = componentFolderIn(m_xdg.stateHome);
    if (const std::optional<QByteArray> path = Files::encodedPath(userFolder)) {
        QString refusal;
        if (!PrivateFiles::makeFolders(*path, &refusal))
            qCDebug(lcPosting).noquote() << refusal;
    }
    return userFolder;
}

QStringList ComponentFolders::iniFilesSearched() const {
    const QString name = QStringLiteral("OrvexKelPostJob.ini");
    QStringList files{m_programFolder + u'\\' + name, componentFolderIn(m_xdg.configHome) + u'/' + name};
    for (const QString &dir : m_xdg.configDirs)
        files.append(componentFolderIn(dir) + u'/' + name);
    return files;
}

QString ComponentFolders::iniFile() const {
    QStringList candidates = iniFilesSearched();
    const QString besideProgram = candidates.takeFirst();
    if (isFile(besideProgram)) {
        const QString refusal = programIniRefusal(besideProgram);
        if (refusal.isEmpty())
            return besideProgram;
        if (!m_iniWarningGiven) {
            m_iniWarningGiven = true;
            qCWarning(lcPosting).noquote()
                << "ignoring" << Files::nativePath(besideProgram) + u':' << refusal;
        }
    }
    for (const QString &candidate : std::as_const(candidates)) {
        if (isFile(candidate))
            return candidate;
    }
    return candidates.constFirst();
}

QString ComponentFolders::folderRefusal(const QString &folder) {
    QString refusal;
    const FileDescriptor fd = openCheckedFolder(folder, &refusal);
    if (!fd.isValid())
        return refusal;
    // Owned is not writable: a folder its owner made read-only, or one on a read-only mount.
    if (::access(Files::encodedPath(folder)->constData(), W_OK | X_OK) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    return QString();
}

QString ComponentFolders::configuredInstallFolder() {
    return QStringLiteral(ORVEX_INSTALL_BINDIR);
}

bool ComponentFolders::runsFromInstallFolder() const {
    // Canonical on both sides: /bin and /usr/bin are one folder on a merged-/usr system.
    const QString installed = QFileInfo(m_installFolder).canonicalFilePath();
    return !installed.isEmpty() &&
           QFileInfo(Files::nativePath(m_programFolder)).canonicalFilePath() == installed;
}

QString ComponentFolders::programIniRefusal(const QString &iniFile) const {
    // Settings steer where postings and their passwords go: a file that another user could have put or
    // changed there is not the user's.
    QString refusal;
    const FileDescriptor folder = openCheckedFolder(m_programFolder, &refusal);
    if (!folder.isValid())
        return QStringLiteral("its folder ") + refusal;
    struct stat status {};
    const QByteArray name = PrivateFiles::splitPath(*Files::encodedPath(iniFile)).second;
    if (::fstatat(folder.get(), name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    if (S_ISLNK(status.st_mode))
        return QStringLiteral("is a symbolic link");
    if (!S_ISREG(status.st_mode))
        return QStringLiteral("is not a regular file");
    if (status.st_uid != ::geteuid() && status.st_uid != 0)
        return QStringLiteral("belongs to another user (uid %1)").arg(status.st_uid);
    if (status.st_mode & (S_IWGRP | S_IWOTH))
        return QStringLiteral("can be written by its group or by others");
    return QString();
}

} // namespace Orvex
