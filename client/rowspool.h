#pragma once

#include "privatefiles.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>

namespace Orvex {

// Lines kept to be read back once, in order: in memory while they are few, beyond that in a temporary file
// that has no name, so that memory does not grow with their number and nothing is left behind by a crash.
// A line holds no '\n'.
class RowSpool {
public:
    // Lines beyond this many bytes go to the file.
    static constexpr qsizetype DefaultMemoryBytes = 1024 * 1024;

    explicit RowSpool(qsizetype memoryBytes = DefaultMemoryBytes)
        : m_memoryBytes(memoryBytes) {}

    // False, with why, when the temporary file cannot be made or written.
    bool append(QByteArrayView line, QString *why);
    // Hands every line to each in the order appended; false, with why, when the file cannot be read.
    bool replay(const std::function<void(QByteArrayView)> &each, QString *why);

private:
    bool spill(QString *why);

    qsizetype m_memoryBytes;
    QByteArray m_buffer; // the lines not yet in the file, each ending in '\n'
    FileDescriptor m_file;
};

} // namespace Orvex
