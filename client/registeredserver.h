#pragma once

#include <QString>
#include <QStringList>

namespace Orvex {

// The folder of the server the session bus starts: the folder of the Exec= program of the first
// OrvexKelPostJob.PostJob.service in $XDG_DATA_HOME/dbus-1/services, then in each $XDG_DATA_DIRS entry's.
// Empty when no such file names a program; searched receives the files looked for.
QString registeredServerFolder(QStringList *searched = nullptr);

} // namespace Orvex
