#pragma once

#include <QString>

namespace FuncLib {

// One value of an INI file, or Default when the file, the section or the key is missing; a present key
// with an empty value gives the empty text. Values are cut to 254 characters. A path that contains
// "\OrvexOne.ini" (any letter case) reads the suite's own OrvexOne.ini instead, unless KeepPath.
QString GetIniString(const QString &IniFile, const QString &Section, const QString &Key,
                     const QString &Default, bool KeepPath = false);

// A named folder of the suite (IniPath, OutboxPath, DataPath, TempPath) from OrvexOnePaths.ini in
// BaseFolder, else its default below BaseFolder; $(MyDocuments), $(WinAppDataPath) or
// $(WinCommonAppDataPath) in the value stand for those folders.
QString GetSuitePath(const QString &BaseFolder, const QString &Key);

} // namespace FuncLib
