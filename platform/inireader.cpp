#include "inireader.h"
#include "textscan_p.h"

#include "files.h"

#include <QByteArrayView>
#include <QFile>
#include <QStringView>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <vector>

namespace Orvex {

namespace {

using TextScan::isBlankChar;
using TextScan::trimBlanks;

// Only this much of a line is parsed; the rest of an overlong line is read past and dropped, so a
// runaway line costs neither memory nor time. Names and values that matter are far shorter.
constexpr qsizetype LineHeadBytes = 64 * 1024;
// What one read asks for. The buffer holds this behind the head of an unfinished line, so reads stay
// large and the buffer never grows.
constexpr qsizetype ReadBytes = 64 * 1024;

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

bool isBlankByte(char c) {
    return c == ' ' || c == '\t';
}

// Every byte read passes through here, so it takes them 64 at a time, in vectors of the GCC and Clang
// extension that each target maps to its own SIMD registers, to cost little beside the read itself.
bool isAscii(QByteArrayView bytes) {
    using Block = unsigned char __attribute__((vector_size(16)));
    constexpr qsizetype BlockBytes = sizeof(Block);
    const auto blockAt = [&bytes](qsizetype at) {
        Block block;
        std::memcpy(&block, bytes.data() + at, sizeof block);
        return block;
    };
    Block any{};
    qsizetype at = 0;
    for (; bytes.size() - at >= 4 * BlockBytes; at += 4 * BlockBytes)
        any |= (blockAt(at) | blockAt(at + BlockBytes)) |
               (blockAt(at + 2 * BlockBytes) | blockAt(at + 3 * BlockBytes));
    unsigned char high = 0;
    for (qsizetype lane = 0; lane < BlockBytes; ++lane)
        high |= any[lane];
    for (; at < bytes.size(); ++at)
        high |= static_cast<unsigned char>(bytes.at(at));
    return high < 0x80;
}

// Where the line holding position at begins, when only blanks lie between that start and at; else nothing.
std::optional<qsizetype> lineStartBefore(QByteArrayView run, qsizetype at) {
    while (at > 0 && isBlankByte(run.at(at - 1)))
        --at;
    if (at > 0 && run.at(at - 1) != '\n')
        return std::nullopt;
    return at;
}

// Hands a file out through one buffer as runs of whole lines: a run begins at the start of a line and
// ends after the end of one (or at the end of the file). Of a line longer than LineHeadBytes only the
// head is handed out, as a run of its own, and the rest is read past. A UTF-8 byte order mark that
// opens the file is dropped.
class LineRuns {
public:
    explicit LineRuns(QFile &file)
        : m_file(file)
        , m_buffer(LineHeadBytes + ReadBytes, Qt::Uninitialized) {}

    // The next run, valid until the next call; empty at the end of the file or on a read error.
    QByteArrayView next() {
        if (m_skipping && !skipRestOfLine())
            return {};
        for (;;) {
            const QByteArrayView pending = unread();
            const qsizetype lastLineEnd = pending.lastIndexOf('\n');
            if (lastLineEnd >= 0) {
                m_begin += lastLineEnd + 1;
                return pending.first(lastLineEnd + 1);
            }
            if (pending.size() >= LineHeadBytes) {
                m_begin = m_end;
                m_skipping = true;
                return pending.first(LineHeadBytes);
            }
            if (!readMore()) {
                m_begin = m_end;
                return pending; // the last line, without a line end
            }
        }
    }

private:
    QByteArrayView unread() const { return QByteArrayView(m_buffer).sliced(m_begin, m_end - m_begin); }

    // Moves the unfinished line to the front and reads behind it; false at the end of the file.
    bool readMore() {
        if (m_atEnd)
            return false;
        std::memmove(m_buffer.data(), m_buffer.constData() + m_begin, size_t(m_end - m_begin));
        m_end -= m_begin;
        m_begin = 0;
        const qint64 got = m_file.read(m_buffer.data() + m_end, m_buffer.size() - m_end);
        if (got <= 0) {
            m_atEnd = true;
            return false;
        }
        m_end += got;
        if (m_atStart && unread().startsWith(Utf8Bom))
            m_begin += Utf8Bom.size();
        m_atStart = false;
        return true;
    }

    // Reads past the rest of a line whose head was handed out; false when the file ends first.
    bool skipRestOfLine() {
        for (;;) {
            const qsizetype lineEnd = unread().indexOf('\n');
            if (lineEnd >= 0) {
                m_begin += lineEnd + 1;
                m_skipping = false;
                return true;
            }
            m_begin = m_end;
            if (!readMore())
                return false;
        }
    }

    QFile &m_file;
    QByteArray m_buffer;
    qsizetype m_begin = 0;
    qsizetype m_end = 0;
    bool m_atStart = true;
    bool m_atEnd = false;
    bool m_skipping = false;
};

// Finds the lines of a run that begin, after blanks, with one given byte. Remembers its last find, so
// asking again from a later position costs nothing until that find is passed.
class LineStartFinder {
public:
    LineStartFinder(QByteArrayView run, char first)
        : m_run(run)
        , m_first(first) {}

    // The position of that first byte on the next such line at or after from; the run's size when none.
    qsizetype nextFrom(qsizetype from) {
        if (m_found >= from)
            return m_found;
        m_found = m_run.size();
        for (qsizetype at = m_run.indexOf(m_first, from); at >= 0; at = m_run.indexOf(m_first, at + 1)) {
            if (lineStartBefore(m_run, at)) {
                m_found = at;
                break;
            }
        }
        return m_found;
    }

private:
    QByteArrayView m_run;
    char m_first;
    qsizetype m_found = -1;
};

// The search for one key in one section, fed the file's lines in order. Every line that can change the
// outcome is parsed as text by the profile rules; the rest are passed over by their first byte.
class ProfileSearch {
public:
    enum class Step { GoOn, Found, Missing };

    ProfileSearch(const QString &section, const QString &key)
        : m_section(section)
        , m_key(key) {
        for (char16_t c = 0; c < 0x80; ++c)
            m_keyStarts[c] = mayStartKeyLine(c);
    }

    Step readRun(QByteArrayView run) { return isAscii(run) ? readAsciiRun(run) : readRunByLines(run); }

    const QString &value() const { return m_value; }

private:
    // Whether a line whose first character after blanks is c may hold the key. Names match as the
    // comparison without letter case decides, character by character, so only the first counts here.
    bool mayStartKeyLine(char16_t c) const {
        if (m_key.isEmpty())
            return c == u'=';
        return QStringView(&c, 1).compare(QStringView(m_key).first(1), Qt::CaseInsensitive) == 0;
    }

    // Whether a line whose first byte after blanks is first can change the outcome. Bytes past ASCII
    // begin characters that may fold to anything, so they always count.
    bool mayMatter(char first) const {
        const auto byte = static_cast<unsigned char>(first);
        return byte >= 0x80 || first == '[' || (m_inWantedSection && m_keyStarts[byte]);
    }

    Step readRunByLines(QByteArrayView run) {
        while (!run.isEmpty()) {
            const qsizetype lineEnd = run.indexOf('\n');
            const QByteArrayView line = lineEnd < 0 ? run : run.first(lineEnd);
            run = lineEnd < 0 ? QByteArrayView() : run.sliced(lineEnd + 1);
            const char *first = std::find_if_not(line.begin(), line.end(), isBlankByte);
            if (first == line.end() || !mayMatter(*first))
                continue;
            if (const Step step = readLine(line); step != Step::GoOn)
                return step;
        }
        return Step::GoOn;
    }

    // In a run without bytes past ASCII, the lines that matter are found by searching for their first
    // bytes, so the lines between them are never looked at one by one.
    Step readAsciiRun(QByteArrayView run) {
        LineStartFinder sections(run, '[');
        std::vector<LineStartFinder> keyLines;
        for (char16_t c = 0; c < 0x80; ++c) {
            if (m_keyStarts[c] && c != u'[')
                keyLines.emplace_back(run, char(c));
        }
        qsizetype from = 0;
        for (;;) {
            qsizetype at = sections.nextFrom(from);
            if (m_inWantedSection) {
                for (LineStartFinder &finder : keyLines)
                    at = std::min(at, finder.nextFrom(from));
            }
            if (at >= run.size())
                return Step::GoOn;
            const qsizetype start = *lineStartBefore(run, at);
            const qsizetype lineEnd = run.indexOf('\n', at);
            const qsizetype end = lineEnd < 0 ? run.size() : lineEnd;
            if (const Step step = readLine(run.sliced(start, end - start)); step != Step::GoOn)
                return step;
            from = end + 1;
        }
    }

    // One line without its line end, by the profile rules.
    Step readLine(QByteArrayView bytes) {
        bytes = bytes.first(std::min(bytes.size(), LineHeadBytes));
        while (bytes.endsWith('\r'))
            bytes.chop(1);
        const QString text = QString::fromUtf8(bytes);
        const QStringView line = trimBlanks(text);
        if (line.isEmpty() || line.front() == u';')
            return Step::GoOn;
        if (line.front() == u'[')
            return readSectionLine(line);
        if (!m_inWantedSection)
            return Step::GoOn;
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0 || trimBlanks(line.left(equals)).compare(m_key, Qt::CaseInsensitive) != 0)
            return Step::GoOn;
        m_value = unquote(trimBlanks(line.mid(equals + 1))).toString();
        return Step::Found;
    }

    Step readSectionLine(QStringView line) {
        // Once the first matching section is over, later duplicates are not consulted.
        if (m_seenWantedSection)
            return Step::Missing;
        const qsizetype close = line.indexOf(u']');
        const QStringView name = trimBlanks(close < 0 ? line.mid(1) : line.mid(1, close - 1));
        m_inWantedSection = name.compare(m_section, Qt::CaseInsensitive) == 0;
        m_seenWantedSection = m_inWantedSection;
        return Step::GoOn;
    }

    const QString &m_section;
    const QString &m_key;
    std::array<bool, 0x80> m_keyStarts{};
    bool m_inWantedSection = false;
    bool m_seenWantedSection = false;
    QString m_value;
};

std::optional<QString> findValue(const QString &filePath, const QString &section, const QString &key) {
    // A name that cannot name a file (empty, an embedded NUL) is a missing file.
    if (!Files::encodedPath(filePath))
        return std::nullopt;
    QFile file(Files::nativePath(filePath));
    // Unbuffered: the reader keeps its own buffer, and reads straight into it.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return std::nullopt;

    LineRuns runs(file);
    ProfileSearch search(section, key);
    for (QByteArrayView run = runs.next(); !run.isEmpty(); run = runs.next()) {
        switch (search.readRun(run)) {
        case ProfileSearch::Step::Found:
            return search.value();
        case ProfileSearch::Step::Missing:
            return std::nullopt;
        case ProfileSearch::Step::GoOn:
            break;
        }
    }
    return std::nullopt;
}

} // namespace

qint32 readProfileString(const QString &section, const QString &key, const QString &defaultValue,
                         QString &buffer, qint32 bufferSize, const QString &filePath) {
    if (bufferSize <= 0)
        return 0;
    const std::optional<QString> found = findValue(filePath, section, key);
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
