#pragma once

#include "readablefile.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace Orvex {

// An INI file read whole, searched by the rules of GetPrivateProfileStringA.
//
// Section and key names match without regard to letter case; the first matching section and, within it,
// the first matching key win, and a later section of the same name is not consulted. Blanks around names
// and values are dropped and one pair of matching quotes around a value is removed; a line that begins
// with ";" is a comment. A UTF-8 byte order mark that opens the file is skipped. "\" and "/" both
// separate folders; a relative path is looked for in the current folder.
class ProfileFile {
public:
    // Settings files are a few KiB; beyond this much the rest of a file is not read, so that a huge or
    // endless file costs neither memory nor time.
    static constexpr qsizetype MaxFileBytes = 16 * 1024 * 1024;
    // Only this much of a line is parsed, the rest of an overlong line is dropped.
    static constexpr qsizetype LineHeadBytes = 64 * 1024;

    static constexpr ReadLimit Limit{MaxFileBytes, "settings file"};

    // One line as the reader takes it, and where its bytes lie in content(), its line end included.
    struct Line {
        enum class Kind { Blank, Section, Key, Other };
        Kind kind = Kind::Blank;
        QString name; // of the section or key
        QString value;
        qsizetype begin = 0;
        qsizetype end = 0;
    };

    // A file that is missing, is no regular file or cannot be read has no sections; status() and error()
    // tell which.
    explicit ProfileFile(const QString &filePath);

    ReadableFile::Status status() const { return m_status; }
    const QString &error() const { return m_error; }
    // Whether the file held more than MaxFileBytes, so that content() is only its head.
    bool isCut() const { return m_cut; }

    // The value of key in section, whole; nothing when the section or the key is missing.
    std::optional<QString> value(QStringView section, QStringView key) const;
    // The names of the file's sections in their order, each once, as first written.
    QStringList sectionNames() const;

    // Every line in order, for a writer that changes one and keeps the others byte for byte.
    QList<Line> lines() const;
    // The bytes read, a byte order mark included.
    const QByteArray &content() const { return m_content; }

private:
    QByteArray m_content;
    qsizetype m_textStart = 0; // after a byte order mark
    ReadableFile::Status m_status = ReadableFile::Status::Missing;
    QString m_error;
    bool m_cut = false;
};

// Stands in for GetPrivateProfileStringA: the value of key in section of filePath by the rules of
// ProfileFile, or defaultValue without its trailing blanks when the file, the section or the key is
// missing, written into buffer cut to bufferSize - 1 characters and followed by a NUL; buffer is resized
// to bufferSize. Returns the number of characters written, without the NUL.
qint32 readProfileString(const QString &section, const QString &key, const QString &defaultValue,
                         QString &buffer, qint32 bufferSize, const QString &filePath);

} // namespace Orvex
