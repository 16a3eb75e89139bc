#include "xdgfolders.h"

#include <QDir>

namespace Orvex {

namespace {

QString homeFolder(const char *variable, const QString &fallback) {
    const QString configured = qEnvironmentVariable(variable);
    return QDir::isAbsolutePath(configured) ? QDir::cleanPath(configured) : QDir::homePath() + fallback;
}

QStringList configFolders() {
    QStringList dirs;
    for (const QString &dir : qEnvironmentVariable("XDG_CONFIG_DIRS").split(u':', Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(dir))
            dirs.append(QDir::cleanPath(dir));
    }
    if (dirs.isEmpty())
        dirs.append(QStringLiteral("/etc/xdg"));
    return dirs;
}

} // namespace

XdgFolders XdgFolders::fromEnvironment() {
    return {homeFolder("XDG_STATE_HOME", QStringLiteral("/.local/state")),
            homeFolder("XDG_CONFIG_HOME", QStringLiteral("/.config")), configFolders()};
}

} // namespace Orvex
