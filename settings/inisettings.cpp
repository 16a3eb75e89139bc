#include "inisettings.h"

#include "regfuncs.h"
#include "suitelocation.h"
#include "textutils.h"

#include "inireader.h"

namespace FuncLib {

namespace {

// Both routines read through a buffer of 255 characters, so values longer than 254 come back cut.
constexpr qint32 ReadBufferSize = 255;

QString readIni(const QString &filePath, const QString &section, const QString &key,
                const QString &defaultValue) {
    QString buffer;
    const qint32 count =
        Orvex::readProfileString(section, key, defaultValue, buffer, ReadBufferSize, filePath);
    return count == 0 ? QString() : buffer.left(count);
}

QString defaultSuiteFolder(const QString &base, const QString &key) {
    const QString lowered = key.toLower();
    if (lowered == u"inipath")
        return base;
    if (lowered == u"outboxpath")
        return base + QStringLiteral("Outbox\\");
    if (lowered == u"datapath")
        return base + QStringLiteral("Data\\");
    if (lowered == u"temppath")
        return base + QStringLiteral("Temp\\");
    return QString();
}

struct FolderMacro {
    QStringView macro;
    QString (*folder)();
};

const FolderMacro FolderMacros[] = {
    {u"$(MyDocuments)", RegFuncs::GetMyDocumentsPath},
    {u"$(WinAppDataPath)", RegFuncs::GetAppDataPath},
    {u"$(WinCommonAppDataPath)", RegFuncs::GetCommonAppDataPath},
};

} // namespace

QString GetIniString(const QString &IniFile, const QString &Section, const QString &Key,
                     const QString &Default, bool KeepPath) {
    QString path = IniFile;
    if (!KeepPath && IniFile.contains(u"\\orvexone.ini", Qt::CaseInsensitive))
        path = GetSuitePath(GetSuiteFolder(), QStringLiteral("IniPath")) + QStringLiteral("OrvexOne.ini");
    return readIni(path, Section, Key, Default);
}

QString GetSuitePath(const QString &BaseFolder, const QString &Key) {
    const QString base = AddBackslash(BaseFolder);
    QString value = readIni(base + QStringLiteral("OrvexOnePaths.ini"), QStringLiteral("General"), Key,
                            defaultSuiteFolder(base, Key));

    // Only the first kind of macro found is expanded; the others stay as written.
    for (const FolderMacro &entry : FolderMacros) {
        if (!value.contains(entry.macro, Qt::CaseInsensitive))
            continue;
        value.replace(entry.macro.toString(), RemoveSuffix(entry.folder(), QStringLiteral("\\")),
                      Qt::CaseInsensitive);
        return AddBackslash(value);
    }
    return value;
}

} // namespace FuncLib
