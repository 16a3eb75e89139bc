#pragma once

#include <QString>

namespace Orvex {

class Clock;
class ComponentFolders;
class JournalWriter;
struct ComponentSettings;

// The files a posting process keeps, decided alike wherever the engine runs: in the server, or in the
// tool's own process where no session bus answers.

// Today's activity log of a process whose files are in folders.
QString activityLogFile(const ComponentFolders &folders, const Clock &clock);

// Opens the process's posting journal as settings name it, in folder.
void openJournal(JournalWriter &journal, const ComponentSettings &settings, const QString &folder);

} // namespace Orvex
