#include "configcommand.h"

#include "boardendpoint.h"
#include "boardsettings.h"
#include "componentsettings.h"
#include "console.h"
#include "inireader.h"
#include "printabletext.h"
#include "privatefiles.h"
#include "settingsfiles.h"
#include "urltext.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace Orvex {

namespace {

const char ConfigDescription[] =
    "Shows and sets the component's settings, [General] of OrvexKelPostJob.ini, or with --board\n"
    "NAME those of one board, its section [Board NAME]: a key that section leaves out takes\n"
    "[General]'s value. [General] is the board \"default\".\n"
    "\n"
    "  config show            the effective value of every key and the file it comes from, a\n"
    "                         key the file leaves out with its default (\"MaxInFlight = 1\n"
    "                         (default)\"); warns of sections and keys the component does not\n"
    "                         read, naming the key a misspelt one likely meant, and of\n"
    "                         values it could not parse (its objects could not be created)\n"
    "  config set KEY VALUE   checks VALUE, then writes it into the user's file\n"
    "                         ($XDG_CONFIG_HOME/OrvexKelPostJob/OrvexKelPostJob.ini), keeping the\n"
    "                         rest of that file as it is; an empty VALUE restores the default\n"
    "  config path            the files looked for, in order: the first that exists is read\n"
    "\n"
    "With --board NAME, show names where each key's value comes from, and set writes into\n"
    "[Board NAME], adding the section at the end of the file when it is missing.\n"
    "\n"
    "The server reads its settings when an object is created: a change takes effect with the\n"
    "next server.\n"
    "\n"
    "Exit status: 0 when done, 2 for bad input, a value that does not parse or a settings file\n"
    "that cannot be read.";

const QString Section = QStringLiteral("General");

} // namespace

// The section a command works on: [General], or the section of one board.
class ConfigSection {
public:
    explicit ConfigSection(QString board = QString())
        : m_board(std::move(board)) {}

    bool isBoard() const { return !m_board.isEmpty(); }
    const QString &board() const { return m_board; }
    // The name a new section gets.
    QString name() const { return isBoard() ? BoardSettings::SectionPrefix.toString() + m_board : Section; }
    bool matches(QStringView sectionName) const {
        if (!isBoard())
            return sectionName.compare(Section, Qt::CaseInsensitive) == 0;
        const std::optional<QString> board = BoardSettings::boardOfSection(sectionName);
        return board && board->compare(m_board, Qt::CaseInsensitive) == 0;
    }
    // The section as the file writes it; empty when the file has none.
    QString nameIn(const ProfileFile &file) const {
        const QStringList names = file.sectionNames();
        const auto found =
            std::find_if(names.cbegin(), names.cend(), [this](const QString &name) { return matches(name); });
        return found == names.cend() ? QString() : *found;
    }
    QStringList keys() const { return isBoard() ? BoardSettings::keyNames() : ComponentSettings::keyNames(); }

private:
    QString m_board;
};

namespace {

// The boards the file names, "default" first, as the component reads them.
QStringList boardsIn(const ProfileFile &file) {
    QStringList boards{BoardSettings::DefaultBoard.toString()};
    for (const QString &section : file.sectionNames()) {
        const std::optional<QString> board = BoardSettings::boardOfSection(section);
        if (board && !boards.contains(*board, Qt::CaseInsensitive))
            boards.append(*board);
    }
    return boards;
}

QString unknownBoard(const QString &board, const QStringList &boards) {
    const std::optional<QString> meant = likelyName(board, boards);
    return QStringLiteral("unknown board %1 (the boards: %2)%3")
        .arg(board, boards.join(QStringLiteral(", ")),
             meant ? QStringLiteral("; did you mean %1?").arg(*meant) : QString());
}

// As the reader strips blanks and one pair of quotes, a value that would lose either is quoted.
QString iniValue(const QString &value) {
    const bool quoted = value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
                        value.back() == value.front();
    if (quoted || value != value.trimmed())
        return u'"' + value + u'"';
    return value;
}

// Where the key's line goes: the line to replace (end > begin), or the place to insert it at (end ==
// begin), or, with section false, nowhere yet: the file has no [General].
struct Placement {
    bool section = false;
    qsizetype begin = 0;
    qsizetype end = 0;
};

Placement placementOf(const QList<ProfileFile::Line> &lines, const ConfigSection &section,
                      const QString &key) {
    Placement placement;
    for (const ProfileFile::Line &line : lines) {
        if (line.kind == ProfileFile::Line::Kind::Section) {
            if (placement.section)
                break;
            if (section.matches(line.name))
                placement = {true, line.end, line.end};
        } else if (placement.section && line.kind == ProfileFile::Line::Kind::Key) {
            if (line.name.compare(key, Qt::CaseInsensitive) == 0)
                return {true, line.begin, line.end};
            placement.begin = placement.end = line.end;
        }
    }
    return placement;
}

// The file's content with key set to value, every other byte as it was.
QByteArray withSetting(const ProfileFile &file, const ConfigSection &section, const QString &key,
                       const QString &value) {
    QByteArray content = file.content();
    const QByteArray lineEnd = content.contains("\r\n") ? "\r\n" : "\n";
    const QByteArray line = (key + u'=' + iniValue(value)).toUtf8();
    const QList<ProfileFile::Line> lines = file.lines();
    const Placement placement = placementOf(lines, section, key);
    if (placement.section && placement.end > placement.begin) {
        const QByteArray replaced = content.mid(placement.begin, placement.end - placement.begin);
        return content.replace(placement.begin, replaced.size(),
                               line + (replaced.endsWith('\n') ? lineEnd : ""));
    }
    // A last line without its line end gets one before anything follows it.
    const qsizetype at = placement.section ? placement.begin : content.size();
    const QByteArray before = at > 0 && !content.endsWith('\n') && at == content.size() ? lineEnd : "";
    if (placement.section)
        return content.insert(at, before + line + lineEnd);
    const bool blankLast = lines.isEmpty() || lines.last().kind == ProfileFile::Line::Kind::Blank;
    return content + before + (blankLast ? "" : lineEnd) + '[' + section.name().toUtf8() + ']' + lineEnd +
           line + lineEnd;
}

// Where a key's effective value comes from: the first section of those read that gives it a value; none
// gives one when every section leaves the key out or empty.
struct KeySource {
    std::optional<QString> value;
    QString section;
    bool emptied = false; // a section gives it empty, which keeps the default
};

KeySource sourceOf(const ProfileFile &profile, const QStringList &sections, const QString &key) {
    KeySource source;
    for (const QString &section : sections) {
        const std::optional<QString> value = profile.value(section, key);
        if (!value)
            continue;
        // An empty value that parses keeps what the key would have without it.
        if (value->isEmpty() && !ComponentSettings::valueProblem(key, *value)) {
            source.emptied = true;
            continue;
        }
        source.value = value;
        source.section = section;
        return source;
    }
    return source;
}

// showOrigin: name the section the value comes from (for a board's keys).
void printValue(const QString &key, const KeySource &source, bool showOrigin, Console &console) {
    QTextStream &out = console.out();
    out << "  " << key << " = ";
    const bool importUrl = key == QLatin1StringView("ImportUrl");
    if (source.value) {
        out << printableText(ComponentSettings::shownValue(key, *source.value));
        if (showOrigin)
            out << "  (from [" << printableText(source.section) << "])";
    } else {
        // No section gives it: the value the component takes without one, and why.
        const QString text = ComponentSettings().valueText(key);
        const QLatin1StringView which = importUrl ? "the built-in board"_L1 : "the default"_L1;
        out << (text.isEmpty() ? QStringLiteral("(none)")
                               : printableText(ComponentSettings::shownValue(key, text)))
            << (source.emptied ? QStringLiteral(" (empty: %1)").arg(which)
                : importUrl    ? QStringLiteral(" (default: %1)").arg(which)
                               : QStringLiteral(" (default)"));
    }
    out << '\n';
    if (importUrl && !source.value && source.emptied)
        console.warn(QStringLiteral("ImportUrl is empty, so postings go to the built-in ") +
                     withoutUserInfo(boardEndpointUrl()));
}

} // namespace

ConfigCommand::ConfigCommand()
    : Command({"config", "Show the component's settings and their files, or set one",
               "show | set KEY VALUE | path [--board NAME]", ConfigDescription})
    , m_board(QStringLiteral("board"),
              QStringLiteral("The board whose section [Board NAME] to show or set (\"default\": [General])."),
              QStringLiteral("name")) {}

void ConfigCommand::declare(QCommandLineParser &parser) {
    parser.addPositionalArgument(QStringLiteral("show|set|path"), QStringLiteral("What to do (see above)."));
    parser.addOption(m_board);
}

int ConfigCommand::run(const QCommandLineParser &parser, Console &console) {
    const QStringList positional = parser.positionalArguments();
    const QString action = positional.value(0);
    const qsizetype expected = action == QLatin1StringView("set") ? 3 : 1;
    if (action == QLatin1StringView("set") && positional.size() != expected)
        return console.badInput(QStringLiteral("give config set KEY VALUE"), name());
    if (positional.size() > expected)
        return console.badInput(QStringLiteral("unexpected argument \"%1\"").arg(positional.at(1)), name());
    QString error;
    const std::optional<ConfigSection> section = sectionOf(parser, &error);
    if (!section)
        return console.badInput(error, name());
    const SettingsFiles files = SettingsFiles::find();
    if (action == QLatin1StringView("set"))
        return set(files, *section, positional.at(1), positional.at(2), console);
    if (section->isBoard() && action != QLatin1StringView("show") && action != QLatin1StringView("path"))
        return console.badInput(QStringLiteral("give show, set or path"), name());
    if (section->isBoard() &&
        !boardsIn(ProfileFile(files.effective)).contains(section->board(), Qt::CaseInsensitive))
        return console.badInput(unknownBoard(section->board(), boardsIn(ProfileFile(files.effective))),
                                name());
    if (action == QLatin1StringView("path"))
        return listPaths(files, console);
    if (action == QLatin1StringView("show"))
        return show(files.effective, *section, console);
    return console.badInput(action.isEmpty() ? QStringLiteral("give show, set or path")
                                             : QStringLiteral("unknown config action \"%1\"").arg(action),
                            name());
}

std::optional<ConfigSection> ConfigCommand::sectionOf(const QCommandLineParser &parser,
                                                      QString *error) const {
    const QStringList values = parser.values(m_board);
    if (values.size() > 1) {
        *error = QStringLiteral("give --board once");
        return std::nullopt;
    }
    const QString board = values.value(0).trimmed();
    if (values.isEmpty() || board.compare(BoardSettings::DefaultBoard, Qt::CaseInsensitive) == 0)
        return ConfigSection();
    // The name goes into a section header: it must read back as the same board.
    const bool fits =
        BoardSettings::boardOfSection(BoardSettings::SectionPrefix.toString() + board) == board &&
        !board.contains(u']') && !board.contains(u'[') && !board.contains(u'\n') && !board.contains(u'\r') &&
        !board.contains(QChar(u'\0'));
    if (!fits) {
        *error = QStringLiteral("--board needs a name without brackets or line ends, got \"%1\"")
                     .arg(values.first());
        return std::nullopt;
    }
    return ConfigSection(board);
}

int ConfigCommand::listPaths(const SettingsFiles &files, Console &console) {
    for (const QString &path : files.searched) {
        console.out() << path;
        if (path == files.effective && QFileInfo(path).isFile())
            console.out() << "  (read)";
        else if (QFileInfo(path).isFile())
            console.out() << "  (exists; not read while the one above is there)";
        console.out() << '\n';
    }
    console.out().flush();
    return Success;
}

int ConfigCommand::show(const QString &file, const ConfigSection &section, Console &console) {
    const ProfileFile profile(file);
    const bool missing = profile.status() == ReadableFile::Status::Missing;
    console.out() << "Settings file: " << printableText(file)
                  << (missing ? " (missing: every key has its default)" : "") << '\n';
    if (section.isBoard())
        console.out() << "Board " << printableText(section.board()) << ": ["
                      << printableText(section.nameIn(profile)) << "], over [" << Section << "]\n";
    console.out().flush();
    if (profile.status() == ReadableFile::Status::Refused)
        return console.fail(QStringLiteral("cannot read %1: %2").arg(printableText(file), profile.error()),
                            BadInput);
    warnOfUnreadLines(profile, file, console);
    int status = Success;
    for (const QString &key : section.keys()) {
        if (!showKey(profile, file, section, key, console))
            status = BadInput;
    }
    if (!section.isBoard())
        console.out() << "Boards: " << printableText(boardsIn(profile).join(QStringLiteral(", "))) << '\n';
    console.out().flush();
    return status;
}

bool ConfigCommand::showKey(const ProfileFile &profile, const QString &file, const ConfigSection &section,
                            const QString &key, Console &console) {
    // A board's key it leaves out or empty takes [General]'s value.
    const QString boardSection = section.isBoard() ? section.nameIn(profile) : QString();
    const QStringList sections =
        boardSection.isEmpty() ? QStringList{Section} : QStringList{boardSection, Section};
    const KeySource source = sourceOf(profile, sections, key);
    printValue(key, source, section.isBoard(), console);
    const std::optional<QString> problem =
        source.value ? ComponentSettings::valueProblem(key, *source.value) : std::nullopt;
    if (!problem)
        return true;
    console.fail(QStringLiteral("%1 in [%2] of %3: %4; objects cannot be created")
                     .arg(key, source.section, printableText(file), printableText(*problem)),
                 BadInput);
    return false;
}

int ConfigCommand::set(const SettingsFiles &files, const ConfigSection &section, const QString &keyName,
                       const QString &value, Console &console) {
    if (const QString refusal = settingRefusal(section, keyName, value); !refusal.isEmpty())
        return console.badInput(refusal, name());
    const QString key = *ComponentSettings::canonicalKey(keyName);
    const ProfileFile profile(files.user);
    if (profile.status() == ReadableFile::Status::Refused || profile.isCut()) {
        const QString reason = profile.isCut() ? beyondLimit(ProfileFile::Limit) : profile.error();
        return console.fail(QStringLiteral("cannot read %1: %2").arg(files.user, reason), BadInput);
    }
    // Written whole and renamed into place, in folders made 0700, as the component writes its own files: a
    // link at the name is replaced, never followed.
    QString refusal;
    if (!PrivateFiles::replaceFile(QFile::encodeName(files.user), withSetting(profile, section, key, value),
                                   &refusal))
        return console.fail(QStringLiteral("cannot write %1: %2").arg(files.user, refusal), BadInput);
    console.out() << "Set " << key << " = " << ComponentSettings::shownValue(key, value) << " in ["
                  << section.name() << "] of " << files.user << '\n';
    console.out().flush();
    const QStringList boards = boardsIn(profile);
    if (section.isBoard() && !boards.contains(section.board(), Qt::CaseInsensitive))
        console.warn(
            QStringLiteral("added the board %1%2")
                .arg(section.board(),
                     likelyName(section.board(), boards)
                         ? QStringLiteral("; did you mean %1?").arg(*likelyName(section.board(), boards))
                         : QString()));
    if (files.effective != files.user && QFileInfo(files.effective).isFile())
        console.warn(QStringLiteral("%1 is read first; the setting has no effect while that file exists")
                         .arg(files.effective));
    return Success;
}

QString ConfigCommand::settingRefusal(const ConfigSection &section, const QString &keyName,
                                      const QString &value) {
    const std::optional<QString> key = ComponentSettings::canonicalKey(keyName);
    const QStringList keys = section.keys();
    if (key && !keys.contains(*key))
        return QStringLiteral("%1 is the component's, not a board's: set it without --board").arg(*key);
    if (!key) {
        const std::optional<QString> meant = likelyName(keyName, keys);
        return QStringLiteral("unknown key %1 (the keys: %2)%3")
            .arg(keyName, keys.join(QStringLiteral(", ")),
                 meant ? QStringLiteral("; did you mean %1?").arg(*meant) : QString());
    }
    if (value.contains(u'\n') || value.contains(u'\r') || value.contains(QChar(u'\0')))
        return QStringLiteral("a value is one line");
    if (const std::optional<QString> problem = ComponentSettings::valueProblem(*key, value))
        return QStringLiteral("%1: %2").arg(*key, *problem);
    return QString();
}

} // namespace Orvex
