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
    // What a program keeps below the home folder: its settings and its state (journal, log), or the
    // server's registration (the data folder).
    enum class HomeUse { SettingsAndState, Registration };
    // Why the folders of use cannot be told: HOME is unset (or relative) and so is one of the XDG variables
    // that stand in for it there; the message names them and what to do. Nothing when they are known. A
    // program that would read or write the user's files refuses to start on it rather than fall back to
    // the root folder.
    static std::optional<QString> missingHome(HomeUse use = HomeUse::SettingsAndState);
};

} // namespace Orvex
