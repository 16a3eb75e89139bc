#pragma once

#include <QDate>
#include <QString>

namespace Orvex {

// Where the activity log of a server with this program folder lies: the program folder when the user may
// write there, else $XDG_STATE_HOME/OrvexKelPostJob (default ~/.local/state/OrvexKelPostJob), since an
// installed program's folder is not writable. No trailing separator.
QString activityLogFolder(const QString &programFolder);

// The log file of one day in folder, named as object creation names it ("folder\OrvexKelPostJobs
// 2010-01-19.log").
QString activityLogFile(const QString &folder, const QDate &day);

} // namespace Orvex
