#pragma once

#include <QFile>
#include <QString>

// Reads of another process's /proc entries, for benchmarks that watch the server's memory.
namespace Orvex::Bench {

// A "kB" line of /proc/PID/status (VmRSS, VmHWM, ...), or -1 when the process or the line is gone.
inline qint64 statusKiB(uint pid, QByteArrayView field) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field) && line.size() > field.size() && line.at(field.size()) == ':')
            return line.mid(field.size() + 1).trimmed().split(' ').constFirst().toLongLong();
    }
    return -1;
}

// Sets the process's peak resident size (VmHWM) back to what it holds now; false where not allowed.
inline bool resetPeakResident(uint pid) {
    QFile clearRefs(QStringLiteral("/proc/%1/clear_refs").arg(pid));
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
}

} // namespace Orvex::Bench
