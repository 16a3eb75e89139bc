#pragma once

#include <QByteArray>
#include <QString>

namespace Orvex {

// Appends bytes to the file at path (either separator), creating it (mode 0600) if need be. The file is
// written with one write() in append mode, so records of several processes never interleave; it stays
// open for the next record while its folder and name still lead to it unchanged, and is opened again
// (or refused) as soon as they do not. A record goes in whole or not at all: bytes of one that could not be
// written whole (a full disk, the file size limit) are taken back. Nothing is written through a link, into a
// file that is not the user's alone, or into a folder others may write to. Returns false when the record was
// not written, with the reason in *whyNot.
bool appendToFile(const QString &path, const QByteArray &bytes, QString *whyNot = nullptr);

} // namespace Orvex
