#include "processfiles.h"

#include "activitylogfile.h"
#include "componentfolders.h"
#include "componentsettings.h"
#include "journalwriter.h"
#include "stampfilename.h"

namespace Orvex {

QString activityLogFile(const ComponentFolders &folders, const Clock &clock) {
    QString logFile;
    FuncLib::StampFileName(folders.filesFolder() + QString::fromUtf16(ActivityLogName), logFile,
                           QStringLiteral("DateOnly"), clock);
    return logFile;
}

void openJournal(JournalWriter &journal, const ComponentSettings &settings, const QString &folder) {
    // Journal= names a shared journal on a PostgreSQL server: never the local file instead, or a user would
    // believe in an exactly-once across machines that the local file cannot give.
    journal.openIn(folder, settings.journalDays, settings.journal);
}

} // namespace Orvex
