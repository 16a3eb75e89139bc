#include "xdgfolders.h"

#include <QDir>

namespace Orvex {

namespace {

QString homeFolder(const char *variable, const QString &fallback) {
    const QString configured = qEnvironmentVariable(variable);
    return QDir::isAbsolutePath(configured) ? QDir::cleanPath(configured) : QDir::homePath() + fallback;
}

QStringList folderList(const char *variable, const QStringList &fallback) {
    QStringList dirs;
    for (const QString &dir : qEnvironmentVariable(variable).split(u':', Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(dir))
            dirs.append(QDir::cleanPath(dir));
    }
    return dirs.isEmpty() ? fallback : dirs;
}

} // namespace

XdgFolders XdgFolders::fromEnvironment() {
    return {homeFolder("XDG_STATE_HOME", QStringLiteral("/.local/state")),
            homeFolder("XDG_CONFIG_HOME", QStringLiteral("/.config")),
            folderList("XDG_CONFIG_DIRS", {QStringLiteral("/etc/xdg")}),
            homeFolder("XDG_DATA_HOME", QStringLiteral("/.local/share")),
            folderList("XDG_DATA_DIRS", {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")})};
}

} // namespace Orvex
