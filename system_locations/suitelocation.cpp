#include "suitelocation.h"

#include "regfuncs.h"
#include "textutils.h"

#include "systemcontext.h"
#include "systeminfo.h"

namespace FuncLib {

namespace {

QString platformPrefix(quint32 platformId) {
    switch (platformId) {
    case 2:
        return QStringLiteral("NT ");
    case 1:
        return QStringLiteral("95 ");
    default:
        return QStringLiteral("Win");
    }
}

} // namespace

QString GetWinVersion() {
    // A failed call leaves the cleared record, which reads Win0.0.
    Orvex::OsVersionInfo info;
    info.osVersionInfoSize = Orvex::OsVersionInfo::RecordSize;
    if (!Orvex::SystemContext::current().system().getVersionEx(info)) {
        info = Orvex::OsVersionInfo();
    }
    return platformPrefix(info.platformId) + QString::number(info.majorVersion) + u'.' +
           QString::number(info.minorVersion);
}

QString GetSuiteFolder() {
    const QString root = RegFuncs::GetCommonDataRoot();
    if (DirExists(root + QStringLiteral("Orvex")))
        return root + QStringLiteral("Orvex\\");
    return AddBackslash(RegFuncs::GetAppPath(QStringLiteral("OrvexOne.exe")));
}

} // namespace FuncLib
