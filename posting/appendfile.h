#pragma once

#include <QByteArray>
#include <QString>

namespace Orvex {

// Appends bytes to the file at path (either separator), creating it if need be. The file is opened and
// closed within the call and written with one write() in append mode, so records of several processes
// never interleave. Returns false when nothing or not everything could be written.
bool appendToFile(const QString &path, const QByteArray &bytes);

} // namespace Orvex
