#pragma once

#include "privatefiles.h"

#include <QByteArray>
#include <QString>

namespace Orvex::JournalFiles {

// The database and the two files SQLite keeps beside it in WAL mode.
inline constexpr const char *Suffixes[] = {"", "-wal", "-shm"};

// Whether each of name's three files in the opened folder is absent or the user's own regular file
// (not a link, not another user's, no second name); the empty text when so, else why not.
QString refusal(int folder, const QByteArray &name);

// The folder's path with no link in it, as SQLite must be given it to refuse links (SQLITE_OPEN_NOFOLLOW
// refuses a path through any link); empty when it cannot be told.
QByteArray resolvedPath(int folder);

// Whether the file at name in the folder is still the one open as file: nothing swapped it meanwhile.
bool isSameFile(int folder, const QByteArray &name, int file);

} // namespace Orvex::JournalFiles
