#pragma once

#include "xdgfolders.h"

#include <QString>

namespace Orvex {

// Where the component's files are. Beside the program while the user may write to its folder; otherwise,
// as Windows redirects a program's writes to a per-user store, the activity log and the debug copies go to
// the user's state folder, and the INI file is also looked for in the user's and the system's
// configuration folders.
class ComponentFolders {
public:
    // programFolder without a trailing separator.
    explicit ComponentFolders(QString programFolder, XdgFolders xdg = XdgFolders::fromEnvironment());

    const QString &programFolder() const { return m_programFolder; }

    // The folder for the log and the debug copies, without a trailing separator: the program folder when
    // it is a folder the user may write to, else $XDG_STATE_HOME/OrvexKelPostJob, made (mode 0700) here
    // when it is missing.
    QString filesFolder() const;

    // The first OrvexKelPostJob.ini of the program folder, $XDG_CONFIG_HOME/OrvexKelPostJob and each
    // $XDG_CONFIG_DIRS folder + /OrvexKelPostJob; the program folder's when there is none, so that a
    // missing file reads as missing.
    QString iniFile() const;

    // Whether the user may create files in folder (access(2) semantics); false for a missing folder or a
    // file.
    static bool isWritableFolder(const QString &folder);

private:
    QString m_programFolder;
    XdgFolders m_xdg;
};

} // namespace Orvex
