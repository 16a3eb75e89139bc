#include "inireader.h"
#include "textscan_p.h"

#include "files.h"

#include <QFile>
#include <QStringView>

#include <optional>

namespace Orvex {

namespace {

using TextScan::trimBlanks;

// Only this much of a line is parsed; the rest of an overlong line is read past and dropped, so a
// runaway line costs neither memory nor time. Names and values that matter are far shorter.
constexpr qint64 LineHeadBytes = 64 * 1024;

QStringView unquote(QStringView value) {
    if (value.size() >= 2) {
        const QChar open = value.front();
        if ((open == u'"' || open == u'\'') && value.back() == open)
            return value.mid(1, value.size() - 2);
    }
    return value;
}

// Reads one line, keeping at most LineHeadBytes of it; false at the end of the file or on a read error.
bool readLineHead(QFile &file, QByteArray &line) {
    line = file.readLine(LineHeadBytes);
    if (line.isEmpty())
        return false;
    if (!line.endsWith('\n')) {
        char skipped[4096];
        qint64 got = 0;
        while (!line.isEmpty() && !file.atEnd()) {
            got = file.readLine(skipped, sizeof skipped);
            if (got <= 0 || skipped[got - 1] == '\n')
                break;
        }
    }
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return true;
}

std::optional<QString> findValue(const QString &filePath, const QString &section, const QString &key) {
    // A name that cannot name a file (empty, an embedded NUL) is a missing file.
    if (!Files::encodedPath(filePath))
        return std::nullopt;
    QFile file(Files::nativePath(filePath));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;

    bool inWantedSection = false;
    bool seenWantedSection = false;
    bool firstLine = true;
    QByteArray bytes;
    while (readLineHead(file, bytes)) {
        if (firstLine && bytes.startsWith("\xEF\xBB\xBF"))
            bytes.remove(0, 3);
        firstLine = false;
        const QString text = QString::fromUtf8(bytes);
        const QStringView line = trimBlanks(text);
        if (line.isEmpty() || line.front() == u';')
            continue;
        if (line.front() == u'[') {
            // Once the first matching section is over, later duplicates are not consulted.
            if (seenWantedSection)
                return std::nullopt;
            const qsizetype close = line.indexOf(u']');
            const QStringView name = trimBlanks(close < 0 ? line.mid(1) : line.mid(1, close - 1));
            inWantedSection = name.compare(section, Qt::CaseInsensitive) == 0;
            seenWantedSection = inWantedSection;
            continue;
        }
        if (!inWantedSection)
            continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0)
            continue;
        if (trimBlanks(line.left(equals)).compare(key, Qt::CaseInsensitive) == 0)
            return unquote(trimBlanks(line.mid(equals + 1))).toString();
    }
    return std::nullopt;
}

} // namespace

qint32 readProfileString(const QString &section, const QString &key, const QString &defaultValue,
                         QString &buffer, qint32 bufferSize, const QString &filePath) {
    if (bufferSize <= 0)
        return 0;
    const std::optional<QString> found = findValue(filePath, section, key);
    const QString &value = found ? *found : defaultValue;

    qsizetype count = std::min<qsizetype>(value.size(), bufferSize - 1);
    // Never leave half of a surrogate pair at the end.
    if (count > 0 && count < value.size() && value.at(count - 1).isHighSurrogate())
        --count;
    buffer.fill(QChar(u'\0'), bufferSize);
    for (qsizetype i = 0; i < count; ++i)
        buffer[i] = value.at(i);
    return qint32(count);
}

} // namespace Orvex
