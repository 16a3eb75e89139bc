#include "files.h"

#include "fileslogging.h"

#include <QFile>
#include <QStringView>

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace Orvex::Files {

namespace {

struct DirCloser {
    void operator()(DIR *dir) const { closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

bool hasWildcard(QStringView name) {
    return name.contains(u'*') || name.contains(u'?');
}

// The Windows path rules drop the trailing dots and spaces of the last part of a path.
QStringView withoutTrailingDotsAndSpaces(QStringView name) {
    while (!name.isEmpty() && (name.back() == u'.' || name.back() == u' '))
        name.chop(1);
    return name;
}

// One element of a search pattern. The Windows search rewrites "?", "*" before a dot and "." before a
// wildcard into its DOS forms before it matches.
struct PatternElement {
    enum Kind {
        Literal,
        Star,    // any run of characters
        DosStar, // "*" before ".": any run that stays before the name's last dot
        DosQm,   // "?": one character, or none at a dot or at the end of the name
        DosDot,  // "." before a wildcard: a dot, or the end of the name
    } kind;
    QChar character;
};

QList<PatternElement> searchPattern(QStringView name) {
    QList<PatternElement> pattern;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar next = i + 1 < name.size() ? name[i + 1] : QChar();
        PatternElement element{PatternElement::Literal, name[i]};
        if (name[i] == u'?')
            element.kind = PatternElement::DosQm;
        else if (name[i] == u'*')
            element.kind = next == u'.' ? PatternElement::DosStar : PatternElement::Star;
        else if (name[i] == u'.' && (next == u'?' || next == u'*'))
            element.kind = PatternElement::DosDot;
        pattern.append(element);
    }
    // Trailing dots and spaces go after the rewriting, so "*." keeps its meaning: names without a dot.
    while (!pattern.isEmpty() && pattern.back().kind == PatternElement::Literal &&
           (pattern.back().character == u'.' || pattern.back().character == u' '))
        pattern.removeLast();
    return pattern;
}

// Matched from the end: matches[p][n] tells whether pattern[p..] matches name[n..]. Quadratic at worst,
// never exponential, whatever the wildcards.
bool wildcardMatch(const QList<PatternElement> &pattern, QStringView name) {
    const qsizetype patternSize = pattern.size();
    const qsizetype nameSize = name.size();
    const qsizetype dotAt = name.lastIndexOf(u'.');
    const qsizetype lastDot = dotAt < 0 ? nameSize : dotAt;
    const qsizetype width = nameSize + 1;
    std::vector<char> matches(size_t((patternSize + 1) * width), 0);
    const auto at = [&](qsizetype p, qsizetype n) -> char & { return matches[size_t(p * width + n)]; };
    at(patternSize, nameSize) = 1;
    for (qsizetype p = patternSize - 1; p >= 0; --p) {
        const PatternElement &element = pattern[p];
        for (qsizetype n = nameSize; n >= 0; --n) {
            const bool more = n < nameSize;
            switch (element.kind) {
            case PatternElement::Literal:
                at(p, n) = more && name[n] == element.character && at(p + 1, n + 1);
                break;
            case PatternElement::Star:
                at(p, n) = at(p + 1, n) || (more && at(p, n + 1));
                break;
            case PatternElement::DosStar:
                at(p, n) = at(p + 1, n) || (n < lastDot && at(p, n + 1));
                break;
            case PatternElement::DosQm:
                at(p, n) = more && name[n] != u'.' ? at(p + 1, n + 1) : at(p + 1, n);
                break;
            case PatternElement::DosDot:
                at(p, n) = more ? name[n] == u'.' && at(p + 1, n + 1) : at(p + 1, n);
                break;
            }
        }
    }
    return at(0, 0);
}

bool isFolder(const QByteArray &path) {
    struct stat info;
    return ::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool entryExists(const QByteArray &path) {
    struct stat info;
    return ::lstat(path.constData(), &info) == 0;
}

std::optional<QString> scanFolder(const QString &folder, const QList<PatternElement> &pattern) {
    const std::optional<QByteArray> encodedFolder = encodedPath(folder);
    if (!encodedFolder)
        return std::nullopt;
    const DirHandle dir(::opendir(encodedFolder->constData()));
    if (!dir) {
        qCDebug(lcFiles) << "cannot list" << folder << std::strerror(errno);
        return std::nullopt;
    }
    while (const dirent *entry = ::readdir(dir.get())) {
        if (entry->d_name[0] == '.')
            continue;
        const QString name = QFile::decodeName(entry->d_name);
        if (wildcardMatch(pattern, name))
            return name;
    }
    return std::nullopt;
}

} // namespace

QString nativePath(const QString &path) {
    QString native = path;
    native.replace(u'\\', u'/');
    return native;
}

std::optional<QByteArray> encodedPath(const QString &path) {
    if (path.isEmpty() || path.contains(QChar(u'\0')) || !QStringView(path).isValidUtf16())
        return std::nullopt;
    return QFile::encodeName(nativePath(path));
}

std::optional<QString> findFirst(const QString &pattern) {
    const std::optional<QByteArray> encoded = encodedPath(pattern);
    if (!encoded)
        return std::nullopt;

    const QString native = nativePath(pattern);
    const qsizetype lastSeparator = native.lastIndexOf(u'/');
    const QString lastPart = native.mid(lastSeparator + 1);
    if (lastPart == u"." || lastPart == u"..")
        return isFolder(*encoded) ? std::optional<QString>(lastPart) : std::nullopt;
    // Like the Windows search, a trailing separator (or one left by the trimming) leaves no name to match.
    const QString name = withoutTrailingDotsAndSpaces(lastPart).toString();
    if (name.isEmpty() || name.startsWith(u'.'))
        return std::nullopt;
    if (!hasWildcard(name)) {
        const std::optional<QByteArray> trimmed = encodedPath(native.left(lastSeparator + 1) + name);
        return trimmed && entryExists(*trimmed) ? std::optional<QString>(name) : std::nullopt;
    }

    QString folder;
    if (lastSeparator < 0)
        folder = QStringLiteral(".");
    else if (lastSeparator == 0)
        folder = QStringLiteral("/");
    else
        folder = native.left(lastSeparator);
    return scanFolder(folder, searchPattern(lastPart));
}

} // namespace Orvex::Files
