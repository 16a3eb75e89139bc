#include "settingsfiles.h"

#include "componentfolders.h"
#include "componentsettings.h"
#include "console.h"
#include "files.h"
#include "inireader.h"
#include "printabletext.h"
#include "registeredserver.h"

#include <QFileInfo>
#include <QSet>

namespace Orvex {

namespace {

const QString Section = QStringLiteral("General");

// What is wrong with one key line of the first [General]; empty when nothing is.
QString keyLineProblem(const QString &name, QSet<QString> &seen) {
    const std::optional<QString> key = ComponentSettings::canonicalKey(name);
    if (!key) {
        const std::optional<QString> meant = ComponentSettings::likelyKey(name);
        return QStringLiteral("unknown key %1%2")
            .arg(name, meant ? QStringLiteral("; did you mean %1?").arg(*meant) : QString());
    }
    if (seen.contains(*key))
        return QStringLiteral("%1 is given again; only the first one is read").arg(*key);
    seen.insert(*key);
    return QString();
}

} // namespace

SettingsFiles SettingsFiles::find() {
    const QString serverFolder = registeredServerFolder();
    const ComponentFolders folders(serverFolder);
    SettingsFiles files;
    for (const QString &path : folders.iniFilesSearched())
        files.searched.append(Files::nativePath(path));
    if (!serverFolder.isEmpty()) {
        files.user = files.searched.at(1);
        // The component decides which file it reads (the program folder's only when it trusts it).
        files.effective = Files::nativePath(folders.iniFile());
        return files;
    }
    // Without a registered server there is no program folder to look in.
    files.searched.removeFirst();
    files.user = files.effective = files.searched.constFirst();
    for (const QString &path : std::as_const(files.searched)) {
        if (QFileInfo(path).isFile()) {
            files.effective = path;
            break;
        }
    }
    return files;
}

QString componentFilesFolder(QString *error) {
    QStringList searched;
    const QString serverFolder = registeredServerFolder(&searched);
    if (serverFolder.isEmpty()) {
        *error = QStringLiteral("no registered server names its folder (looked for %1)")
                     .arg(searched.join(QStringLiteral(", ")));
        return QString();
    }
    return ComponentFolders(serverFolder).filesFolder();
}

void warnOfUnreadLines(const ProfileFile &file, const QString &path, Console &console) {
    // The reader takes the first [General] only, and the first of each key in it.
    bool inFirstGeneral = false;
    bool generalSeen = false;
    QSet<QString> seen;
    const QList<ProfileFile::Line> lines = file.lines();
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const ProfileFile::Line &line = lines.at(i);
        QString problem;
        if (line.kind == ProfileFile::Line::Kind::Other) {
            problem = QStringLiteral("not a [Section] nor a Key=Value line: \"%1\"").arg(line.name);
        } else if (line.kind == ProfileFile::Line::Kind::Section) {
            const bool general = line.name.compare(Section, Qt::CaseInsensitive) == 0;
            if (!general)
                problem = QStringLiteral("section [%1] is not read; the settings go under [%2]")
                              .arg(line.name, Section);
            else if (generalSeen)
                problem = QStringLiteral("a second [%1] is not read; only the first one is").arg(Section);
            inFirstGeneral = general && !generalSeen;
            generalSeen = generalSeen || general;
        } else if (line.kind == ProfileFile::Line::Kind::Key && inFirstGeneral) {
            problem = keyLineProblem(line.name, seen);
        }
        if (!problem.isEmpty())
            console.warn(QStringLiteral("%1:%2: %3")
                             .arg(printableText(path), QString::number(i + 1), printableText(problem)));
    }
}

} // namespace Orvex
