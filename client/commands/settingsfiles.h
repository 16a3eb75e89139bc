#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace Orvex {

class Console;
class ProfileFile;

// The files the component reads its settings from, the one it reads first.
struct SettingsFiles {
    QStringList searched; // native paths, in the order they are looked for
    QString effective;    // native path: the first that exists, else the first looked for
    QString user;         // native path of the user's own file

    static SettingsFiles find();
};

// The folder the registered server writes its log and journal into; empty with *error when none.
QString componentFilesFolder(QString *error);
// Journal= of the settings the component reads: empty for the journal in that folder, else a PostgreSQL
// URI; nothing, with *error, when the settings cannot be read.
std::optional<QString> journalSetting(QString *error);

// Warns on the console of every line of path the component would not read as its writer meant: other
// sections, a second [General] or [Board NAME], unknown keys (with the key likely meant), keys given twice.
void warnOfUnreadLines(const ProfileFile &file, const QString &path, Console &console);

} // namespace Orvex
