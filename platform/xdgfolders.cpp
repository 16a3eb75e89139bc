#include "xdgfolders.h"

#include <QDir>

namespace Orvex {

namespace {

// The variables that stand in for HOME, each for one folder below it.
constexpr const char *HomeVariables[] = {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_DATA_HOME"};

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

std::optional<QString> XdgFolders::missingHome() {
    if (isAbsoluteIn("HOME"))
        return std::nullopt;
    QStringList missing;
    for (const char *variable : HomeVariables) {
        if (!isAbsoluteIn(variable))
            missing.append(QString::fromLatin1(variable));
    }
    if (missing.isEmpty())
        return std::nullopt;
    return QStringLiteral("HOME is not set to an absolute path (nor %1, which would stand in for it), so the "
                          "settings, the posting "
                          "journal and the registered server cannot be found. Set HOME to the account's home "
                          "folder (in a crontab: HOME=/home/NAME), or set XDG_CONFIG_HOME, XDG_STATE_HOME "
                          "and XDG_DATA_HOME to absolute paths")
        .arg(missing.join(QStringLiteral(", ")));
}

XdgFolders XdgFolders::fromEnvironment() {
    return {homeFolder("XDG_STATE_HOME", QStringLiteral("/.local/state")),
            homeFolder("XDG_CONFIG_HOME", QStringLiteral("/.config")),
            folderList("XDG_CONFIG_DIRS", {QStringLiteral("/etc/xdg")}),
            homeFolder("XDG_DATA_HOME", QStringLiteral("/.local/share")),
            folderList("XDG_DATA_DIRS", {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")})};
}

} // namespace Orvex
