#include "configcommand.h"

#include "boardendpoint.h"
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
    "Exit status: 0 when done, 2 for bad input, a value that does not parse or a settings file\n"
    "that cannot be read.";

const QString Section = QStringLiteral("General");

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

Placement placementOf(const QList<ProfileFile::Line> &lines, const QString &key) {
    Placement placement;
    for (const ProfileFile::Line &line : lines) {
        if (line.kind == ProfileFile::Line::Kind::Section) {
            if (placement.section)
                break;
            if (line.name.compare(Section, Qt::CaseInsensitive) == 0)
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
QByteArray withSetting(const ProfileFile &file, const QString &key, const QString &value) {
    QByteArray content = file.content();
    const QByteArray lineEnd = content.contains("\r\n") ? "\r\n" : "\n";
    const QByteArray line = (key + u'=' + iniValue(value)).toUtf8();
    const QList<ProfileFile::Line> lines = file.lines();
    const Placement placement = placementOf(lines, key);
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
    return content + before + (blankLast ? "" : lineEnd) + '[' + Section.toUtf8() + ']' + lineEnd + line +
           lineEnd;
}

void printValue(const QString &key, const std::optional<QString> &value, Console &console) {
    QTextStream &out = console.out();
    out << "  " << key << " = ";
    if (!value)
        out << "(default)";
    else
        out << printableText(withoutUserInfo(*value)) << (value->isEmpty() ? "(empty: the default)" : "");
    const bool builtInBoard = key == QLatin1StringView("ImportUrl") && (!value || value->isEmpty());
    if (builtInBoard)
        out << "  built in: " << withoutUserInfo(boardEndpointUrl());
    out << '\n';
    if (builtInBoard && value)
        console.warn(QStringLiteral("ImportUrl is empty, so postings go to the built-in ") +
                     withoutUserInfo(boardEndpointUrl()));
}

} // namespace

ConfigCommand::ConfigCommand()
    : Command({"config", "Show the component's settings and their files, or set one",
               "show | set KEY VALUE | path", ConfigDescription}) {}

void ConfigCommand::declare(QCommandLineParser &parser) {
    parser.addPositionalArgument(QStringLiteral("show|set|path"), QStringLiteral("What to do (see above)."));
}

int ConfigCommand::run(const QCommandLineParser &parser, Console &console) {
    const QStringList positional = parser.positionalArguments();
    const QString action = positional.value(0);
    const qsizetype expected = action == QLatin1StringView("set") ? 3 : 1;
    if (action == QLatin1StringView("set") && positional.size() != expected)
        return console.badInput(QStringLiteral("give config set KEY VALUE"), name());
    if (positional.size() > expected)
        return console.badInput(QStringLiteral("unexpected argument \"%1\"").arg(positional.at(1)), name());
    const SettingsFiles files = SettingsFiles::find();
    if (action == QLatin1StringView("path"))
        return listPaths(files, console);
    if (action == QLatin1StringView("show"))
        return show(files.effective, console);
    if (action == QLatin1StringView("set"))
        return set(files, positional.at(1), positional.at(2), console);
    return console.badInput(action.isEmpty() ? QStringLiteral("give show, set or path")
                                             : QStringLiteral("unknown config action \"%1\"").arg(action),
                            name());
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

int ConfigCommand::show(const QString &file, Console &console) {
    const ProfileFile profile(file);
    const bool missing = profile.status() == ReadableFile::Status::Missing;
    console.out() << "Settings file: " << printableText(file)
                  << (missing ? " (missing: every key has its default)" : "") << '\n';
    console.out().flush();
    if (profile.status() == ReadableFile::Status::Refused)
        return console.fail(QStringLiteral("cannot read %1: %2").arg(printableText(file), profile.error()),
                            BadInput);
    warnOfUnreadLines(profile, file, console);
    int status = Success;
    for (const QString &key : ComponentSettings::keyNames()) {
        const std::optional<QString> value = profile.value(Section, key);
        printValue(key, value, console);
        const std::optional<QString> problem =
            value ? ComponentSettings::valueProblem(key, *value) : std::nullopt;
        if (problem) {
            console.fail(QStringLiteral("%1 in [%2] of %3: %4; objects cannot be created")
                             .arg(key, Section, printableText(file), printableText(*problem)),
                         BadInput);
            status = BadInput;
        }
    }
    console.out().flush();
    return status;
}

int ConfigCommand::set(const SettingsFiles &files, const QString &keyName, const QString &value,
                       Console &console) {
    const std::optional<QString> key = ComponentSettings::canonicalKey(keyName);
    if (!key) {
        const std::optional<QString> meant = ComponentSettings::likelyKey(keyName);
        return console.badInput(
            QStringLiteral("unknown key %1 (the keys: %2)%3")
                .arg(keyName, ComponentSettings::keyNames().join(QStringLiteral(", ")),
                     meant ? QStringLiteral("; did you mean %1?").arg(*meant) : QString()),
            name());
    }
    if (value.contains(u'\n') || value.contains(u'\r') || value.contains(QChar(u'\0')))
        return console.badInput(QStringLiteral("a value is one line"), name());
    if (const std::optional<QString> problem = ComponentSettings::valueProblem(*key, value))
        return console.badInput(QStringLiteral("%1: %2").arg(*key, *problem), name());

    const ProfileFile profile(files.user);
    if (profile.status() == ReadableFile::Status::Refused || profile.isCut()) {
        const QString reason = profile.isCut() ? beyondLimit(ProfileFile::Limit) : profile.error();
        return console.fail(QStringLiteral("cannot read %1: %2").arg(files.user, reason), BadInput);
    }
    // Written whole and renamed into place, in folders made 0700, as the component writes its own files: a
    // link at the name is replaced, never followed.
    QString refusal;
    if (!PrivateFiles::replaceFile(QFile::encodeName(files.user), withSetting(profile, *key, value),
                                   &refusal))
        return console.fail(QStringLiteral("cannot write %1: %2").arg(files.user, refusal), BadInput);
    console.out() << "Set " << *key << " = " << withoutUserInfo(value) << " in " << files.user << '\n';
    console.out().flush();
    if (files.effective != files.user && QFileInfo(files.effective).isFile())
        console.warn(QStringLiteral("%1 is read first; the setting has no effect while that file exists")
                         .arg(files.effective));
    return Success;
}

} // namespace Orvex
