#include "activitylogfile.h"

#include "clock.h"
#include "files.h"
#include "stampfilename.h"

#include <QDir>
#include <QFileInfo>

namespace Orvex {

namespace {

// The XDG rule: a relative value is invalid and counts as unset.
QString stateHome() {
    const QString configured = qEnvironmentVariable("XDG_STATE_HOME");
    if (QDir::isAbsolutePath(configured))
        return configured;
    return QDir::homePath() + QStringLiteral("/.local/state");
}

} // namespace

QString activityLogFolder(const QString &programFolder) {
    const QFileInfo folder(Files::nativePath(programFolder));
    if (!programFolder.isEmpty() && folder.isDir() && folder.isWritable())
        return programFolder;
    return stateHome() + QStringLiteral("/OrvexKelPostJob");
}

QString activityLogFile(const QString &folder, const QDate &day) {
    QString path;
    FuncLib::StampFileName(folder + QStringLiteral("\\OrvexKelPostJobs.log"), path,
                           QStringLiteral("DateOnly"), FixedClock(QDateTime(day, QTime(0, 0))));
    return path;
}

} // namespace Orvex
