#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstddef>
#include <cstdint>

// What every harness shares: quiet logging, a failed property ends the run, and files in memory.
namespace Orvex::Fuzz {

// Drops Qt's and our own log output, which would drown libFuzzer's; fatal messages still abort.
void silenceLogging();

// A property that must hold for every input; failing it aborts, so libFuzzer keeps the input.
void require(bool holds, const char *property, const QString &detail = QString());

// The input split at every 0xFF byte (a byte that never occurs in UTF-8).
QList<QByteArray> fields(const uint8_t *data, size_t size);

// A file that lives only in memory, rewritten for each input and named by a path any reader can open.
class MemoryFile {
public:
    MemoryFile();
    ~MemoryFile();
    MemoryFile(const MemoryFile &) = delete;
    MemoryFile &operator=(const MemoryFile &) = delete;

    void write(const QByteArray &content);
    const QString &path() const { return m_path; }

private:
    int m_fd;
    QString m_path;
};

} // namespace Orvex::Fuzz
