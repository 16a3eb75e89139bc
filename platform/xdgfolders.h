#pragma once

#include <QString>
#include <QStringList>

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
};

} // namespace Orvex
