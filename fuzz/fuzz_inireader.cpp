// The INI reader on any file content, asked for the sections and keys the file names and for the
// component's own: whole (ProfileFile) and through buffers of several sizes (readProfileString).
// Input: the file's bytes.

#include "fuzzsupport.h"

#include "inireader.h"

#include <QRegularExpression>
#include <QStringList>

#include <optional>

namespace {

using Orvex::Fuzz::require;

// Section and key names as they appear in the file, and the component's own.
QList<std::pair<QString, QString>> queries(const QString &text) {
    QList<std::pair<QString, QString>> asked{{QStringLiteral("General"), QStringLiteral("DebugMode")}};
    static const QRegularExpression section(QStringLiteral("^\\s*\\[([^\\]\\n]*)"),
                                            QRegularExpression::MultilineOption);
    static const QRegularExpression key(QStringLiteral("^\\s*([^=\\[;\\n]*)="),
                                        QRegularExpression::MultilineOption);
    QStringList sections;
    for (auto it = section.globalMatch(text); it.hasNext() && sections.size() < 2;)
        sections.append(it.next().captured(1));
    QStringList keys;
    for (auto it = key.globalMatch(text); it.hasNext() && keys.size() < 3;)
        keys.append(it.next().captured(1));
    for (const QString &s : sections) {
        for (const QString &k : keys)
            asked.append({s, k});
    }
    return asked;
}

// The value through buffers of several sizes, each the same value cut shorter; wideSize holds any value.
void check(const QString &section, const QString &key, const QString &path, qint32 wideSize) {
    const QString fallback = QStringLiteral("default-value");
    QString wide;
    const qint32 wideCount = Orvex::readProfileString(section, key, fallback, wide, wideSize, path);
    const QString whole = wide.left(wideCount);
    require(!whole.contains(u'\n'), "a value never spans lines");
    const std::optional<QString> found = Orvex::ProfileFile(path).value(section, key);
    require(found.value_or(fallback) == whole, "the whole value is what a buffer large enough holds",
            section + u'/' + key);

    for (const qint32 bufferSize : {255, 2, 1, 0}) {
        QString buffer;
        const qint32 count = Orvex::readProfileString(section, key, fallback, buffer, bufferSize, path);
        require(count >= 0 && count <= qMax(0, bufferSize - 1), "the count fits the buffer");
        if (bufferSize <= 0)
            continue;
        require(buffer.size() == bufferSize && buffer.at(count) == QChar(u'\0'),
                "the buffer keeps its size and the value ends with a NUL");
        const QString value = buffer.left(count);
        require(count == 0 || !value.back().isHighSurrogate(), "no half of a surrogate pair at the end");
        require(whole.startsWith(value) &&
                    whole.size() - count <= qMax(0, whole.size() - (bufferSize - 1)) + 1,
                "a smaller buffer cuts the same value", section + u'/' + key);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    Orvex::Fuzz::silenceLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static Orvex::Fuzz::MemoryFile file;
    const QByteArray content(reinterpret_cast<const char *>(data), qsizetype(size));
    file.write(content);
    for (const auto &[section, key] : queries(QString::fromUtf8(content)))
        check(section, key, file.path(), qint32(size) + 16);
    return 0;
}
