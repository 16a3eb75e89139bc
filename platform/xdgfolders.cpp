#include "xdgfolders.h"

#include <QDir>

namespace Orvex {

namespace {

bool isAbsoluteIn(const char *variable) {
    return QDir::isAbsolutePath(qEnvironmentVariable(variable));
}

QString homeFolder(const char *variable, const QString &fallback) {
    const QString configured = qEnvironmentVariable(variable);
    // Cleaned, so that a home of "/" gives "/.config", never "//.config".
    return QDir::cleanPath(QDir::isAbsolutePath(configured) ? configured : QDir::homePath() + fallback);
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

std::optional<QString> XdgFolders::missingHome(HomeUse use) {
    if (isAbsoluteIn("HOME"))
        return std::nullopt;
    // The variables that stand in for HOME in this use, and what would otherwise lie below the root folder.
    const bool registration = use == HomeUse::Registration;
    const QStringList standIns =
        registration ? QStringList{QStringLiteral("XDG_DATA_HOME")}
                     : QStringList{QStringLiteral("XDG_CONFIG_HOME"), QStringLiteral("XDG_STATE_HOME")};
    QStringList missing;
    for (const QString &variable : standIns) {
        if (!isAbsoluteIn(qPrintable(variable)))
            missing.append(variable);
    }
    if (missing.isEmpty())
        return std::nullopt;
    return QStringLiteral(
               "HOME is not set to an absolute path, nor is %1, which would stand in for it, so %2 "
               "would lie below the root folder. Set HOME to the account's home folder (in a "
               "crontab: HOME=/home/NAME), or %3")
        .arg(missing.join(QStringLiteral(" or ")),
             registration ? QStringLiteral("the registration")
                          : QStringLiteral("the settings, the posting journal and the log"),
             standIns.join(QStringLiteral(" and ")) + (standIns.size() > 1
                                                           ? QStringLiteral(" each to an absolute folder")
                                                           : QStringLiteral(" to an absolute folder")));
}

XdgFolders XdgFolders::fromEnvironment() {
    return {homeFolder("XDG_STATE_HOME", QStringLiteral("/.local/state")),
            homeFolder("XDG_CONFIG_HOME", QStringLiteral("/.config")),
            folderList("XDG_CONFIG_DIRS", {QStringLiteral("/etc/xdg")}),
            homeFolder("XDG_DATA_HOME", QStringLiteral("/.local/share")),
            folderList("XDG_DATA_DIRS", {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")})};
}

} // namespace Orvex
