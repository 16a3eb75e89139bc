#include "processstate.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <limits>

namespace Orvex {

bool hasProcessEnded(qint64 processId) {
    if (processId <= 0 || processId > std::numeric_limits<pid_t>::max())
        return true;
    if (::kill(pid_t(processId), 0) != 0 && errno == ESRCH)
        return true;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(processId));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    // "pid (name) S ...": the state follows the last parenthesis, since a name may hold one.
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close >= 0 && text.mid(close + 2, 1) == "Z";
}

} // namespace Orvex
