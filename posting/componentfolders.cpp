#include "componentfolders.h"

#include "files.h"
#include "postinglogging.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace Orvex {

namespace {

// Where a per-user or system folder keeps the component's files.
QString componentFolderIn(const QString &base) {
    return base + QStringLiteral("/OrvexKelPostJob");
}

// Makes folder and any missing parent with mode 0700, as the XDG base directory rules ask. An existing
// folder keeps its mode.
void makeUserFolder(const QString &folder) {
    const std::optional<QByteArray> path = Files::encodedPath(folder);
    if (!path)
        return;
    for (qsizetype slash = path->indexOf('/', 1);; slash = path->indexOf('/', slash + 1)) {
        const QByteArray part = slash < 0 ? *path : path->left(slash);
        if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST) {
            qCDebug(lcPosting) << "cannot make" << part << std::strerror(errno);
            return;
        }
        if (slash < 0)
            return;
    }
}

} // namespace

ComponentFolders::ComponentFolders(QString programFolder, XdgFolders xdg)
    : m_programFolder(std::move(programFolder))
    , m_xdg(std::move(xdg)) {}

QString ComponentFolders::filesFolder() const {
    if (isWritableFolder(m_programFolder))
        return m_programFolder;
    const QString userFolder = componentFolderIn(m_xdg.stateHome);
    makeUserFolder(userFolder);
    return userFolder;
}

QString ComponentFolders::iniFile() const {
    const QString name = QStringLiteral("OrvexKelPostJob.ini");
    QStringList candidates{m_programFolder + u'\\' + name, componentFolderIn(m_xdg.configHome) + u'/' + name};
    for (const QString &dir : m_xdg.configDirs)
        candidates.append(componentFolderIn(dir) + u'/' + name);
    for (const QString &candidate : std::as_const(candidates)) {
        if (QFileInfo(Files::nativePath(candidate)).isFile())
            return candidate;
    }
    return candidates.first();
}

bool ComponentFolders::isWritableFolder(const QString &folder) {
    const std::optional<QByteArray> path = Files::encodedPath(folder);
    struct stat status {};
    return path && ::stat(path->constData(), &status) == 0 && S_ISDIR(status.st_mode) &&
           ::access(path->constData(), W_OK | X_OK) == 0;
}

} // namespace Orvex
