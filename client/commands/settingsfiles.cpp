#include "settingsfiles.h"

#include "automationerror.h"
#include "boardsettings.h"
#include "componentfolders.h"
#include "componentsettings.h"
#include "console.h"
#include "files.h"
#include "inireader.h"
#include "printabletext.h"
#include "registeredserver.h"
#include "urltext.h"

#include <QFileInfo>
#include <QSet>

namespace Orvex {

namespace {

const QString Section = QStringLiteral("General");

// The lines the component reads: the first [General] and the first section of each board, the first of
// each key in them. Says what is wrong with each other line.
class ReadLines {
public:
    QString problemOf(const ProfileFile::Line &line) {
        switch (line.kind) {
        case ProfileFile::Line::Kind::Other:
            return QStringLiteral("not a [Section] nor a Key=Value line: \"%1\"").arg(line.name);
        case ProfileFile::Line::Kind::Section:
            return sectionProblem(line.name);
        case ProfileFile::Line::Kind::Key:
            return m_keys.isEmpty() ? QString() : keyProblem(line.name);
        case ProfileFile::Line::Kind::Blank:
            break;
        }
        return QString();
    }

private:
    QString sectionProblem(const QString &name) {
        const bool general = name.compare(Section, Qt::CaseInsensitive) == 0;
        const std::optional<QString> board = BoardSettings::boardOfSection(name);
        m_keys.clear();
        m_seenKeys.clear();
        if (!general && !board)
            return QStringLiteral("section [%1] is not read; the settings go under [%2] or [Board NAME]")
                .arg(name, Section);
        const QString folded = general ? QString() : board->toCaseFolded();
        if (m_seenSections.contains(folded))
            return QStringLiteral("a second [%1] is not read; only the first one is").arg(name);
        m_seenSections.insert(folded);
        m_keys = general ? ComponentSettings::keyNames() : BoardSettings::keyNames();
        return QString();
    }

    QString keyProblem(const QString &name) {
        const auto known = std::find_if(m_keys.cbegin(), m_keys.cend(), [&](const QString &key) {
            return key.compare(name, Qt::CaseInsensitive) == 0;
        });
        if (known == m_keys.cend()) {
            if (const std::optional<QString> key = ComponentSettings::canonicalKey(name))
                return QStringLiteral("%1 is not read in a board's section; it goes under [%2]")
                    .arg(*key, Section);
            const std::optional<QString> meant = likelyName(name, m_keys);
            return QStringLiteral("unknown key %1%2")
                .arg(name, meant ? QStringLiteral("; did you mean %1?").arg(*meant) : QString());
        }
        if (m_seenKeys.contains(*known))
            return QStringLiteral("%1 is given again; only the first one is read").arg(*known);
        m_seenKeys.insert(*known);
        return QString();
    }

    QSet<QString> m_seenSections; // "" for [General], else the board's name case folded
    QStringList m_keys;           // the keys of the section being read; empty in a section not read
    QSet<QString> m_seenKeys;
};

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

std::optional<QString> journalSetting(QString *error) {
    try {
        return ComponentSettings::read(SettingsFiles::find().effective).journal;
    } catch (const AutomationError &failure) {
        *error = printableText(withoutUserInfo(failure.description()));
        return std::nullopt;
    }
}

void warnOfUnreadLines(const ProfileFile &file, const QString &path, Console &console) {
    ReadLines reader;
    const QList<ProfileFile::Line> lines = file.lines();
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString problem = reader.problemOf(lines.at(i));
        if (!problem.isEmpty())
            console.warn(QStringLiteral("%1:%2: %3")
                             .arg(printableText(path), QString::number(i + 1), printableText(problem)));
    }
}

} // namespace Orvex
