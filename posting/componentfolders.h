#pragma once

#include "xdgfolders.h"

#include <QString>

namespace Orvex {

// Where the component's files are. Beside the program while its folder is the user's alone; otherwise, as
// Windows redirects a program's writes to a per-user store, the activity log and the debug copies go to
// the user's state folder, and the INI file is also looked for in the user's and the system's
// configuration folders.
class ComponentFolders {
public:
    // programFolder without a trailing separator; installFolder is where an install puts the program (a
    // server run from there keeps its files in the state folder, whoever runs it).
    explicit ComponentFolders(QString programFolder, XdgFolders xdg = XdgFolders::fromEnvironment(),
                              QString installFolder = configuredInstallFolder());

    const QString &programFolder() const { return m_programFolder; }

    // The folder for the log and the debug copies, without a trailing separator: the program folder when
    // it is not the install folder and passes folderRefusal, else $XDG_STATE_HOME/OrvexKelPostJob, made
    // (mode 0700) here when it is missing. A state folder that fails the same rule is still named here;
    // nothing is written into it.
    QString filesFolder() const;

    // The first OrvexKelPostJob.ini of the program folder, $XDG_CONFIG_HOME/OrvexKelPostJob and each
    // $XDG_CONFIG_DIRS folder + /OrvexKelPostJob; the user's when there is none, so that a missing file
    // reads as missing. The program folder's counts only in a folder that passes folderRefusal and when
    // the user or root owns it and no one else may write it.
    QString iniFile() const;
    // Every place iniFile() looks, in its order: the program folder's, the user's, then the system's.
    QStringList iniFilesSearched() const;

    // Why the component may not write its files into folder, or the empty text when it may: it must be a
    // folder the effective user owns, may write to, and no one else may write to.
    static QString folderRefusal(const QString &folder);

    // The folder the build installs the server to.
    static QString configuredInstallFolder();

private:
    bool runsFromInstallFolder() const;
    QString programIniRefusal(const QString &iniFile) const;

    QString m_programFolder;
    XdgFolders m_xdg;
    QString m_installFolder;
    mutable bool m_iniWarningGiven = false;
};

} // namespace Orvex
