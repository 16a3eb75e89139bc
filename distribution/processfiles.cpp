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
    if (settings.journal.isEmpty()) {
        journal.openIn(folder, settings.journalDays);
        return;
    }
    // Never the local file instead: a user who named a shared journal would believe in an exactly-once
    // across machines that the local file cannot give. Nothing that needs its row is sent.
    journal.refuse(QStringLiteral("Journal= names a journal on a PostgreSQL server, which this version "
                                  "cannot write yet; leave it empty for the journal in the state folder"));
}

} // namespace Orvex
