#include "boardendpoint.h"
#include "commandline_p.h"
#include "componentfolders.h"
#include "componentsettings.h"
#include "files.h"
#include "inireader.h"
#include "postjobtool.h"
#include "printabletext.h"
#include "privatefiles.h"
#include "registeredserver.h"
#include "urltext.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace Orvex {

namespace {

const char ConfigDescription[] =
    "Shows and sets the component's settings, [General] of OrvexKelPostJob.ini.\n"
    "\n"
    "  config show            the effective value of every key and the file it comes from;\n"
    "                         warns of sections and keys the component does not read, and of\n"
    "                         values it could not parse (its objects could not be created)\n"
    "  config set KEY VALUE   checks VALUE, then writes it into the user's file\n"
    "                         ($XDG_CONFIG_HOME/OrvexKelPostJob/OrvexKelPostJob.ini), keeping the\n"
    "                         rest of that file as it is; an empty VALUE restores the default\n"
    "  config path            the files looked for, in order: the first that exists is read\n"
    "\n"
    "The server reads its settings when an object is created: a change takes effect with the\n"
    "next server.\n"
    "\n"
    "Exit status: 0 when done, 2 for bad input or a value that does not parse.";

const QString Section = QStringLiteral("General");

// The files the component reads its settings from, the one it reads first.
struct SettingsFiles {
    QStringList searched; // native paths, in the order they are looked for
    QString effective;    // native path: the first that exists, else the first looked for
    QString user;         // native path of the user's own file
};

SettingsFiles settingsFiles() {
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

// One line of an INI file as the component's reader takes it.
struct IniLine {
    enum class Kind { Blank, Section, Key, Other } kind = Kind::Blank;
    QString name; // of the section or key
    QString value;
};

IniLine parseIniLine(const QString &raw) {
    const QString line = raw.trimmed();
    if (line.isEmpty() || line.startsWith(u';'))
        return {};
    if (line.startsWith(u'[')) {
        const qsizetype end = line.indexOf(u']');
        if (end > 0)
            return {IniLine::Kind::Section, line.mid(1, end - 1).trimmed(), QString()};
        return {IniLine::Kind::Other, line, QString()};
    }
    const qsizetype equals = line.indexOf(u'=');
    if (equals <= 0)
        return {IniLine::Kind::Other, line, QString()};
    return {IniLine::Kind::Key, line.left(equals).trimmed(), line.mid(equals + 1).trimmed()};
}

QStringList readLines(const QString &path, bool *crlf) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray content = file.read(ProfileFile::MaxFileBytes);
    *crlf = content.contains("\r\n");
    QString text = QString::fromUtf8(content);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QStringList lines = text.split(u'\n');
    for (QString &line : lines) {
        if (line.endsWith(u'\r'))
            line.chop(1);
    }
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

std::optional<QString> canonicalKey(const QString &name) {
    for (const QString &key : ComponentSettings::keyNames()) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return key;
    }
    return std::nullopt;
}

// The known key a mistyped one most likely meant: the same letters without separators and case.
std::optional<QString> likelyKey(const QString &name) {
    auto letters = [](QString text) {
        text.removeIf([](QChar c) { return !c.isLetterOrNumber(); });
        return text.toLower();
    };
    for (const QString &key : ComponentSettings::keyNames()) {
        if (letters(key) == letters(name))
            return key;
    }
    return std::nullopt;
}

std::optional<QString> problemOf(const QString &key, const QString &value) {
    if (std::optional<QString> problem = ComponentSettings::valueProblem(key, value))
        return problem;
    // Said here, before a server's posting fails on it.
    if (key.compare(QLatin1StringView("ImportUrl"), Qt::CaseInsensitive) == 0 && !value.isEmpty()) {
        if (const std::optional<UrlRefusal> refusal = importUrlRefusal(value))
            return refusal->description;
    }
    return std::nullopt;
}

// As the reader strips blanks and one pair of quotes, a value that would lose either is quoted.
QString iniValue(const QString &value) {
    const bool quoted = value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
                        value.back() == value.front();
    if (quoted || value != value.trimmed())
        return u'"' + value + u'"';
    return value;
}

} // namespace

QString PostJobTool::settingsFile() {
    return settingsFiles().effective;
}

int PostJobTool::runConfig(const QStringList &arguments) {
    const QString name = QStringLiteral("config");
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(ConfigDescription));
    const QCommandLineOption helpOption = helpOptionOf(name);
    parser.addOption(helpOption);
    parser.addPositionalArgument(QStringLiteral("show|set|path"), QStringLiteral("What to do (see above)."));
    if (const std::optional<int> done = parseCommand(parser, helpOption, name, arguments))
        return *done;

    const QStringList positional = parser.positionalArguments();
    const QString action = positional.value(0);
    const SettingsFiles files = settingsFiles();
    if (action == QLatin1StringView("path")) {
        if (positional.size() > 1)
            return badInput(unexpectedArgument(positional.at(1)), name);
        for (const QString &path : files.searched) {
            m_out << path;
            if (path == files.effective && QFileInfo(path).isFile())
                m_out << "  (read)";
            else if (QFileInfo(path).isFile())
                m_out << "  (exists; not read while the one above is there)";
            m_out << '\n';
        }
        m_out.flush();
        return Success;
    }
    if (action == QLatin1StringView("show")) {
        if (positional.size() > 1)
            return badInput(unexpectedArgument(positional.at(1)), name);
        return showConfig(files.effective);
    }
    if (action == QLatin1StringView("set")) {
        if (positional.size() != 3)
            return badInput(QStringLiteral("give config set KEY VALUE"), name);
        return setConfig(files.user, files.effective, positional.at(1), positional.at(2));
    }
    return badInput(action.isEmpty() ? QStringLiteral("give show, set or path")
                                     : QStringLiteral("unknown config action \"%1\"").arg(action),
                    name);
}

int PostJobTool::showConfig(const QString &file) {
    const bool exists = QFileInfo(file).isFile();
    m_out << "Settings file: " << printableText(file)
          << (exists ? "" : " (missing: every key has its default)") << '\n';
    bool crlf = false;
    const QStringList lines = exists ? readLines(file, &crlf) : QStringList();
    auto warn = [&](qsizetype line, const QString &what) {
        m_err << m_program << ": warning: " << printableText(file) << ':' << line + 1 << ": "
              << printableText(what) << '\n';
    };

    // The reader takes the first [General] only, and the first of each key in it.
    QString section;
    bool inFirstGeneral = false;
    bool generalSeen = false;
    QSet<QString> keysSeen;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const IniLine line = parseIniLine(lines.at(i));
        switch (line.kind) {
        case IniLine::Kind::Blank:
            break;
        case IniLine::Kind::Other:
            warn(i, QStringLiteral("not a [Section] nor a Key=Value line: \"%1\"").arg(line.name));
            break;
        case IniLine::Kind::Section:
            section = line.name;
            inFirstGeneral = false;
            if (section.compare(Section, Qt::CaseInsensitive) != 0)
                warn(i, QStringLiteral("section [%1] is not read; the settings go under [%2]")
                            .arg(section, Section));
            else if (generalSeen)
                warn(i, QStringLiteral("a second [%1] is not read; only the first one is").arg(Section));
            else
                inFirstGeneral = generalSeen = true;
            break;
        case IniLine::Kind::Key: {
            if (!inFirstGeneral)
                break;
            const std::optional<QString> key = canonicalKey(line.name);
            if (!key) {
                const std::optional<QString> meant = likelyKey(line.name);
                warn(i, QStringLiteral("unknown key %1%2")
                            .arg(line.name,
                                 meant ? QStringLiteral("; did you mean %1?").arg(*meant) : QString()));
            } else if (keysSeen.contains(*key)) {
                warn(i, QStringLiteral("%1 is given again; only the first one is read").arg(*key));
            }
            if (key)
                keysSeen.insert(*key);
            break;
        }
        }
    }

    int status = Success;
    const ProfileFile profile(file);
    for (const QString &key : ComponentSettings::keyNames()) {
        const std::optional<QString> value = profile.value(Section, key);
        m_out << "  " << key << " = ";
        if (!value) {
            m_out << "(default)";
        } else {
            m_out << printableText(withoutUserInfo(*value));
            if (value->isEmpty())
                m_out << "(empty: the default)";
        }
        const bool builtInBoard = key == QLatin1StringView("ImportUrl") && (!value || value->isEmpty());
        if (builtInBoard)
            m_out << "  built in: " << withoutUserInfo(boardEndpointUrl());
        m_out << '\n';
        if (builtInBoard && value) {
            m_err << m_program << ": warning: ImportUrl is empty, so postings go to the built-in "
                  << withoutUserInfo(boardEndpointUrl()) << '\n';
        }
        if (value) {
            if (const std::optional<QString> problem = problemOf(key, *value)) {
                m_err << m_program << ": " << key << " in [" << Section << "] of " << printableText(file)
                      << ": " << printableText(*problem) << "; objects cannot be created\n";
                status = BadInput;
            }
        }
    }
    m_out.flush();
    m_err.flush();
    return status;
}

int PostJobTool::setConfig(const QString &userFile, const QString &effectiveFile, const QString &keyName,
                           const QString &value) {
    const QString name = QStringLiteral("config");
    const std::optional<QString> key = canonicalKey(keyName);
    if (!key) {
        const std::optional<QString> meant = likelyKey(keyName);
        return badInput(QStringLiteral("unknown key %1 (the keys: %2)%3")
                            .arg(keyName, ComponentSettings::keyNames().join(QStringLiteral(", ")),
                                 meant ? QStringLiteral("; did you mean %1?").arg(*meant) : QString()),
                        name);
    }
    if (value.contains(u'\n') || value.contains(u'\r') || value.contains(QChar(u'\0')))
        return badInput(QStringLiteral("a value is one line"), name);
    if (const std::optional<QString> problem = problemOf(*key, value))
        return badInput(QStringLiteral("%1: %2").arg(*key, *problem), name);

    bool crlf = false;
    QStringList lines = readLines(userFile, &crlf);
    const QString newLine = *key + u'=' + iniValue(value);
    qsizetype generalStart = -1;
    qsizetype insertAt = -1;
    bool replaced = false;
    for (qsizetype i = 0; i < lines.size() && !replaced; ++i) {
        const IniLine line = parseIniLine(lines.at(i));
        if (line.kind == IniLine::Kind::Section) {
            if (generalStart >= 0)
                break;
            if (line.name.compare(Section, Qt::CaseInsensitive) == 0)
                generalStart = insertAt = i + 1;
        } else if (generalStart >= 0 && line.kind == IniLine::Kind::Key) {
            insertAt = i + 1;
            if (line.name.compare(*key, Qt::CaseInsensitive) == 0) {
                lines[i] = newLine;
                replaced = true;
            }
        }
    }
    if (!replaced) {
        if (generalStart < 0) {
            if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
                lines.append(QString());
            lines.append(u'[' + Section + u']');
            insertAt = lines.size();
        }
        lines.insert(insertAt, newLine);
    }

    // Written whole and renamed into place, in folders made 0700, as the component writes its own files: a
    // link at the name is replaced, never followed.
    const QByteArray content = (lines.join(crlf ? QStringLiteral("\r\n") : QStringLiteral("\n")) +
                                (crlf ? QStringLiteral("\r\n") : QStringLiteral("\n")))
                                   .toUtf8();
    QString refusal;
    if (!PrivateFiles::replaceFile(QFile::encodeName(userFile), content, &refusal)) {
        m_err << m_program << ": cannot write " << userFile << ": " << refusal << '\n';
        m_err.flush();
        return BadInput;
    }
    m_out << "Set " << *key << " = " << withoutUserInfo(value) << " in " << userFile << '\n';
    if (effectiveFile != userFile && QFileInfo(effectiveFile).isFile()) {
        m_err << m_program << ": warning: " << effectiveFile << " is read first; the setting has no effect "
              << "while that file exists\n";
    }
    m_out.flush();
    m_err.flush();
    return Success;
}

} // namespace Orvex
