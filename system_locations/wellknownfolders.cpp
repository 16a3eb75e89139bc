#include "regfuncs.h"
#include "suitelocation.h"
#include "textutils.h"

#include "systemcontext.h"
#include "systeminfo.h"

namespace RegFuncs {

namespace {

// Open, read one value, close: the value, or the empty text when the key or the value is missing.
QString readValue(quint32 root, const QString &subKey, const QString &valueName) {
    QString value;
    quint32 handle = 0;
    if (!RegOpen(root, subKey, handle))
        return value;
    RegQueryString(handle, valueName, value);
    RegClose(handle);
    return value;
}

QString shellFolder(quint32 root, const QString &valueName) {
    return FuncLib::AddBackslash(readValue(root, ShellFoldersKey(), valueName));
}

} // namespace

QString GetMyDocumentsPath() {
    return shellFolder(HKEY_CURRENT_USER, QStringLiteral("Personal"));
}

QString GetAppDataPath() {
    return shellFolder(HKEY_CURRENT_USER, QStringLiteral("AppData"));
}

QString GetCommonAppDataPath() {
    return shellFolder(HKEY_LOCAL_MACHINE, QStringLiteral("Common AppData"));
}

QString GetCommonDataRoot() {
    if (FuncLib::GetWinVersion() != u"NT 6.0" && FuncLib::GetWinVersion() != u"NT 6.1")
        return GetCommonAppDataPath();

    QString publicFolder = readValue(HKEY_LOCAL_MACHINE, WindowsNtKey() + QStringLiteral("\\ProfileList"),
                                     QStringLiteral("Public"));
    const QString systemDrive = Orvex::SystemContext::current()
                                    .system()
                                    .environmentVariable(QStringLiteral("SystemDrive"))
                                    .value_or(QString());
    publicFolder.replace(QStringLiteral("%SystemDrive%"), systemDrive, Qt::CaseInsensitive);
    return FuncLib::AddBackslash(publicFolder);
}

QString GetAppPath(const QString &ExeName) {
    quint32 handle = 0;
    if (!RegOpen(HKEY_LOCAL_MACHINE, WindowsKey() + QStringLiteral("\\App Paths\\") + ExeName, handle))
        return QString();
    QString value;
    const bool read = RegQueryString(handle, QString(), value);
    RegClose(handle);
    if (!read)
        return QString();

    // A "/" counts only when the value holds no "\" at all.
    qsizetype separator = value.lastIndexOf(u'\\');
    if (separator < 0)
        separator = value.lastIndexOf(u'/');
    if (separator < 0)
        return QString();
    QString folder = value.left(separator + 1);
    if (folder.startsWith(u'"'))
        folder.remove(0, 1);
    return folder;
}

} // namespace RegFuncs
