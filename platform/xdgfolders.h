#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace Orvex {

// The XDG base folders, each as the environment names it or by its default. A relative path in a variable
// is ignored, as the base directory rules ask.
struct XdgFolders {
    QString stateHome;      // $XDG_STATE_HOME, else ~/.local/state
    QString configHome;     // $XDG_CONFIG_HOME, else ~/.config
    QStringList configDirs; // $XDG_CONFIG_DIRS, else /etc/xdg; most important first
    QString dataHome;       // $XDG_DATA_HOME, else ~/.local/share
    QStringList dataDirs;   // $XDG_DATA_DIRS, else /usr/local/share and /usr/share; most important first

    static XdgFolders fromEnvironment();
    // Why the folders below the home folder cannot be told: HOME is unset (or relative) and so is one of
    // the XDG variables that would stand in for it; the message names them and what to do. Nothing when
    // every one is known. A program that would write or read the user's files refuses to start on it,
    // rather than fall back to the root folder.
    static std::optional<QString> missingHome();
};

} // namespace Orvex
