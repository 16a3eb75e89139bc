#include "inireader.h"
#include "textscan_p.h"

#include <QByteArrayView>

#include <algorithm>

namespace Orvex {

namespace {

using TextScan::isBlankChar;
using TextScan::trimBlanks;

constexpr QByteArrayView Utf8Bom("\xEF\xBB\xBF");

QStringView unquote(QStringView value) {
    if (value.size() >= 2) {
        const QChar open = value.front();
        if ((open == u'"' || open == u'\'') && value.back() == open)
            return value.mid(1, value.size() - 2);
    }
    return value;
}

// The platform call drops the default's trailing blanks; a value read from the file keeps its own rules.
QStringView withoutTrailingBlanks(QStringView text) {
    while (!text.isEmpty() && isBlankChar(text.back()))
        text.chop(1);
    return text;
}

char firstNonBlank(QByteArrayView line) {
    const auto first = std::find_if(line.begin(), line.end(), [](char c) { return c != ' ' && c != '\t'; });
    return first == line.end() ? '\0' : *first;
}

// One line, its line end removed, by the reader's rules: a section line names its section even without
// its closing bracket, and a key line is anything else that holds "=".
ProfileFile::Line parseLine(QByteArrayView bytes) {
    bytes = bytes.first(std::min(bytes.size(), ProfileFile::LineHeadBytes));
    while (bytes.endsWith('\r'))
        bytes.chop(1);
    const QString text = QString::fromUtf8(bytes);
    const QStringView trimmed = trimBlanks(text);
    using Kind = ProfileFile::Line::Kind;
    if (trimmed.isEmpty() || trimmed.front() == u';')
        return {};
    if (trimmed.front() == u'[') {
        const qsizetype close = trimmed.indexOf(u']');
        const QStringView name = trimBlanks(close < 0 ? trimmed.mid(1) : trimmed.mid(1, close - 1));
        return {Kind::Section, name.toString(), QString()};
    }
    const qsizetype equals = trimmed.indexOf(u'=');
    if (equals < 0)
        return {Kind::Other, trimmed.toString(), QString()};
    return {Kind::Key, trimBlanks(trimmed.left(equals)).toString(),
            unquote(trimBlanks(trimmed.mid(equals + 1))).toString()};
}

} // namespace

ProfileFile::ProfileFile(const QString &filePath) {
    ReadableFile file(filePath);
    m_content = file.readHead(MaxFileBytes);
    m_status = file.status();
    m_error = file.error();
    m_cut = file.size() > MaxFileBytes;
    if (m_content.startsWith(Utf8Bom))
        m_textStart = Utf8Bom.size();
}

std::optional<QString> ProfileFile::value(QStringView section, QStringView key) const {
    bool inSection = false;
    for (QByteArrayView rest = QByteArrayView(m_content).sliced(m_textStart); !rest.isEmpty();) {
        const qsizetype lineEnd = rest.indexOf('\n');
        const QByteArrayView line = lineEnd < 0 ? rest : rest.first(lineEnd);
        rest = lineEnd < 0 ? QByteArrayView() : rest.sliced(lineEnd + 1);

        // Outside the section only a section line can change the outcome: skip the rest undecoded.
        if (firstNonBlank(line) != '[' && !inSection)
            continue;
        const Line parsed = parseLine(line);
        if (parsed.kind == Line::Kind::Section) {
            // Once the first matching section is over, later ones of the same name are not consulted.
            if (inSection)
                return std::nullopt;
            inSection = parsed.name.compare(section, Qt::CaseInsensitive) == 0;
        } else if (parsed.kind == Line::Kind::Key && parsed.name.compare(key, Qt::CaseInsensitive) == 0) {
            return parsed.value;
        }
    }
    return std::nullopt;
}

QList<ProfileFile::Line> ProfileFile::lines() const {
    QList<Line> lines;
    for (qsizetype begin = m_textStart; begin < m_content.size();) {
        const qsizetype newline = m_content.indexOf('\n', begin);
        const qsizetype end = newline < 0 ? m_content.size() : newline + 1;
        Line line = parseLine(QByteArrayView(m_content).sliced(begin, (newline < 0 ? end : newline) - begin));
        line.begin = begin;
        line.end = end;
        lines.append(std::move(line));
        begin = end;
    }
    return lines;
}

QStringList ProfileFile::sectionNames() const {
    QStringList names;
    for (const Line &line : lines()) {
        // A later section of the same name is never consulted, so it is not listed either.
        if (line.kind == Line::Kind::Section && !names.contains(line.name, Qt::CaseInsensitive))
            names.append(line.name);
    }
    return names;
}

qint32 readProfileString(const QString &section, const QString &key, const QString &defaultValue,
                         QString &buffer, qint32 bufferSize, const QString &filePath) {
    if (bufferSize <= 0)
        return 0;
    const std::optional<QString> found = ProfileFile(filePath).value(section, key);
    const QStringView value = found ? QStringView(*found) : withoutTrailingBlanks(defaultValue);

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
