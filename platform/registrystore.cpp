#include "registrystore.h"
#include "textscan_p.h"

#include "registrylogging.h"
#include "xdgfolders.h"

#include <QFile>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QStringList>

#include <algorithm>
#include <cstring>
#include <optional>

namespace Orvex {

namespace {

using TextScan::trimBlanks;

constexpr qint32 ERROR_INVALID_PARAMETER = 87;

// A registry file is small; anything bigger is not one and is not read at all.
constexpr qint64 MaxRegFileBytes = 16 * 1024 * 1024;

constexpr QStringView Utf16Header = u"Windows Registry Editor Version 5.00";
constexpr QStringView AnsiHeader = u"REGEDIT4";
constexpr QStringView ShellFoldersPath =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

struct RootName {
    quint32 root;
    QStringView name;
    QStringView shortName;
};

constexpr RootName RootNames[] = {
    {HKEY_CLASSES_ROOT, u"HKEY_CLASSES_ROOT", u"HKCR"},
    {HKEY_CURRENT_USER, u"HKEY_CURRENT_USER", u"HKCU"},
    {HKEY_LOCAL_MACHINE, u"HKEY_LOCAL_MACHINE", u"HKLM"},
    {HKEY_USERS, u"HKEY_USERS", u"HKU"},
};

std::optional<QString> rootName(quint32 root) {
    for (const RootName &entry : RootNames) {
        if (entry.root == root)
            return entry.name.toString();
    }
    return std::nullopt;
}

bool samePath(QStringView a, QStringView b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// True when path names a key below ancestor.
bool isBelow(QStringView path, QStringView ancestor) {
    return path.size() > ancestor.size() + 1 && path.at(ancestor.size()) == u'\\' &&
           path.startsWith(ancestor, Qt::CaseInsensitive);
}

// A section name with the short root names spelled out and trailing separators dropped.
QString canonicalKeyPath(QStringView name) {
    while (name.endsWith(u'\\'))
        name.chop(1);
    for (const RootName &entry : RootNames) {
        const QStringView shortName = entry.shortName;
        if (name.startsWith(shortName, Qt::CaseInsensitive) &&
            (name.size() == shortName.size() || name.at(shortName.size()) == u'\\'))
            return entry.name.toString().append(name.mid(shortName.size()));
    }
    return name.toString();
}

QString valueKey(QStringView name) {
    return name.toString().toCaseFolded();
}

// Reads a quoted text starting at text[at] == '"' with the \\ and \" escapes; at ends past the
// closing quote. Nothing when the quote is not closed.
std::optional<QString> readQuoted(QStringView text, qsizetype &at) {
    QString result;
    for (qsizetype i = at + 1; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'"') {
            at = i + 1;
            return result;
        }
        if (c == u'\\' && i + 1 < text.size() && (text.at(i + 1) == u'\\' || text.at(i + 1) == u'"')) {
            result += text.at(++i);
            continue;
        }
        result += c;
    }
    return std::nullopt;
}

std::optional<quint32> parseHexNumber(QStringView digits, qsizetype maxDigits) {
    if (digits.isEmpty() || digits.size() > maxDigits)
        return std::nullopt;
    bool ok = false;
    const uint number = digits.toUInt(&ok, 16);
    if (!ok)
        return std::nullopt;
    return quint32(number);
}

std::optional<QByteArray> parseHexBytes(QStringView list) {
    QByteArray bytes;
    for (QStringView token : list.split(u',')) {
        token = trimBlanks(token);
        if (token.isEmpty())
            continue;
        const std::optional<quint32> byte = parseHexNumber(token, 2);
        if (!byte)
            return std::nullopt;
        bytes.append(char(*byte));
    }
    return bytes;
}

// The ANSI form of text stored as UTF-16LE bytes; an odd last byte is dropped.
QByteArray utf16LeToAnsi(const QByteArray &bytes) {
    QString text;
    text.reserve(bytes.size() / 2);
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
        text.append(QChar(char16_t(quint8(bytes.at(i)) | (quint8(bytes.at(i + 1)) << 8))));
    return text.toUtf8();
}

bool holdsText(quint32 type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// The data part of a value line: a quoted text, "-", dword:, hex: or hex(n):. Nothing when unreadable;
// a Value of type REG_NONE with removed set for "-".
struct ParsedData {
    RegistryStore::Value value;
    bool removes = false;
};

std::optional<ParsedData> parseData(QStringView data, bool utf16Format) {
    ParsedData parsed;
    if (data == u"-") {
        parsed.removes = true;
        return parsed;
    }
    if (data.startsWith(u'"')) {
        qsizetype at = 0;
        const std::optional<QString> text = readQuoted(data, at);
        if (!text || !trimBlanks(data.mid(at)).isEmpty())
            return std::nullopt;
        parsed.value = {REG_SZ, text->toUtf8().append('\0')};
        return parsed;
    }
    if (data.startsWith(u"dword:", Qt::CaseInsensitive)) {
        const std::optional<quint32> number = parseHexNumber(trimBlanks(data.mid(6)), 8);
        if (!number)
            return std::nullopt;
        QByteArray bytes(4, '\0');
        for (int i = 0; i < 4; ++i)
            bytes[i] = char((*number >> (8 * i)) & 0xFF);
        parsed.value = {REG_DWORD, bytes};
        return parsed;
    }
    if (!data.startsWith(u"hex", Qt::CaseInsensitive))
        return std::nullopt;
    QStringView rest = data.mid(3);
    quint32 type = REG_BINARY;
    if (rest.startsWith(u'(')) {
        const qsizetype close = rest.indexOf(u')');
        if (close < 0)
            return std::nullopt;
        const std::optional<quint32> number = parseHexNumber(rest.mid(1, close - 1), 8);
        if (!number)
            return std::nullopt;
        type = *number;
        rest = rest.mid(close + 1);
    }
    if (!rest.startsWith(u':'))
        return std::nullopt;
    std::optional<QByteArray> bytes = parseHexBytes(rest.mid(1));
    if (!bytes)
        return std::nullopt;
    if (utf16Format && holdsText(type))
        *bytes = utf16LeToAnsi(*bytes);
    parsed.value = {type, *bytes};
    return parsed;
}

QString decodeRegFile(const QByteArray &bytes) {
    if (bytes.startsWith("\xFF\xFE")) {
        QStringDecoder decoder(QStringConverter::Utf16LE, QStringConverter::Flag::Default);
        return decoder.decode(bytes.mid(2));
    }
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    return QString::fromUtf8(bytes);
}

QString loadSourceText(bool isFile, const QString &fileOrText) {
    if (!isFile)
        return fileOrText;
    if (fileOrText.isEmpty())
        return QString();
    QFile file(fileOrText);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    if (file.size() > MaxRegFileBytes) {
        qCWarning(lcRegistry) << "ignoring oversized registry file" << fileOrText;
        return QString();
    }
    return decodeRegFile(file.readAll());
}

} // namespace

RegistryStore::RegistryStore(std::function<Sources()> sources)
    : m_sources(std::move(sources)) {}

RegistryStore RegistryStore::host() {
    return RegistryStore([] {
        return Sources{{true, userRegistryFile()}, {true, machineRegistryFile()}, xdgShellFolders()};
    });
}

RegistryStore RegistryStore::fromFiles(QString userRegFile, QString machineRegFile,
                                       ShellFolderDefaults defaults) {
    return RegistryStore([=] { return Sources{{true, userRegFile}, {true, machineRegFile}, defaults}; });
}

RegistryStore RegistryStore::fromText(QString userReg, QString machineReg, ShellFolderDefaults defaults) {
    return RegistryStore([=] { return Sources{{false, userReg}, {false, machineReg}, defaults}; });
}

QString RegistryStore::userRegistryFile() {
    return XdgFolders::fromEnvironment().configHome + QStringLiteral("/OrvexKelPostJob/user.reg");
}

QString RegistryStore::machineRegistryFile() {
    return XdgFolders::fromEnvironment().configDirs.first() + QStringLiteral("/OrvexKelPostJob/machine.reg");
}

ShellFolderDefaults RegistryStore::xdgShellFolders() {
    const XdgFolders xdg = XdgFolders::fromEnvironment();
    return {QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation), xdg.configHome,
            xdg.configDirs.first()};
}

// Reads one key's snapshot from a .reg text, line by line.
class RegistryStore::KeyReader {
public:
    KeyReader(const QString &regText, const QString &keyPath)
        : m_lines(regText.split(u'\n'))
        , m_keyPath(keyPath) {}

    Key read() {
        if (!readHeader())
            return Key();
        while (hasLine()) {
            const QStringView line = nextLine();
            if (line.isEmpty() || line.front() == u';')
                continue;
            if (line.front() == u'[')
                readSectionLine(line);
            else
                readValueLine(line);
        }
        return m_key;
    }

private:
    bool hasLine() const { return m_index < m_lines.size(); }

    QStringView nextLine() {
        QStringView line = m_lines.at(m_index++);
        if (line.endsWith(u'\r'))
            line.chop(1);
        return trimBlanks(line);
    }

    // The first line that is not blank must be one of the two headers; it tells how text values are kept.
    bool readHeader() {
        QStringView header;
        while (hasLine() && header.isEmpty())
            header = nextLine();
        if (header.startsWith(u'\uFEFF'))
            header = trimBlanks(header.mid(1));
        m_utf16Format = header == Utf16Header;
        if (m_utf16Format || header == AnsiHeader)
            return true;
        if (!header.isEmpty())
            qCDebug(lcRegistry) << "no REGEDIT4 or version 5.00 header; registry text ignored";
        return false;
    }

    // "[path]" opens a key, "[-path]" removes it and everything below it.
    void readSectionLine(QStringView line) {
        m_inKey = false;
        const qsizetype close = line.lastIndexOf(u']');
        if (close < 0)
            return;
        const QStringView name = line.mid(1, close - 1);
        if (name.startsWith(u'-'))
            removeKey(canonicalKeyPath(name.mid(1)));
        else
            openSection(canonicalKeyPath(name));
    }

    void removeKey(const QString &removed) {
        if (samePath(m_keyPath, removed) || isBelow(m_keyPath, removed))
            m_key = Key();
    }

    // A section for a key below the wanted one shows that the wanted key exists, though it holds no values.
    void openSection(const QString &path) {
        if (samePath(path, m_keyPath)) {
            m_key.exists = true;
            m_inKey = true;
        } else if (isBelow(path, m_keyPath)) {
            m_key.exists = true;
        }
    }

    // "Name"=data or @=data; lines of any other form are skipped.
    void readValueLine(QStringView line) {
        QString name;
        qsizetype at = 0;
        if (line.front() == u'@') {
            at = 1;
        } else if (line.front() == u'"') {
            const std::optional<QString> quoted = readQuoted(line, at);
            if (!quoted)
                return;
            name = *quoted;
        } else {
            return;
        }
        const QStringView rest = trimBlanks(line.mid(at));
        if (!rest.startsWith(u'='))
            return;
        // The continuation lines belong to the value even outside the wanted key, so they are read past.
        const QString data = withContinuationLines(trimBlanks(rest.mid(1)).toString());
        if (m_inKey)
            storeValue(name, data);
    }

    // Long hex lists run on over lines ending in "\".
    QString withContinuationLines(QString data) {
        if (!data.startsWith(u"hex", Qt::CaseInsensitive))
            return data;
        while (data.endsWith(u'\\') && hasLine()) {
            data.chop(1);
            data += nextLine();
        }
        return data;
    }

    void storeValue(const QString &name, const QString &data) {
        const std::optional<ParsedData> parsed = parseData(data, m_utf16Format);
        if (!parsed)
            return;
        if (parsed->removes)
            m_key.values.remove(valueKey(name));
        else
            m_key.values.insert(valueKey(name), parsed->value);
    }

    const QStringList m_lines;
    const QString &m_keyPath;
    qsizetype m_index = 0;
    bool m_utf16Format = false;
    bool m_inKey = false;
    Key m_key;
};

RegistryStore::Key RegistryStore::readKey(const QString &regText, const QString &keyPath) {
    return KeyReader(regText, keyPath).read();
}

qint32 RegistryStore::openKey(quint32 root, const QString &subKey, quint32 *handle) {
    if (!handle)
        return ERROR_INVALID_PARAMETER;
    QString path;
    if (const std::optional<QString> name = rootName(root)) {
        path = *name;
    } else if (const auto open = m_openKeys.find(root); open != m_openKeys.end()) {
        path = open->second.path;
    } else {
        return ERROR_INVALID_HANDLE;
    }
    if (subKey.startsWith(u'\\'))
        return ERROR_BAD_PATHNAME;
    QStringView relative = subKey;
    while (relative.endsWith(u'\\'))
        relative.chop(1);
    if (!relative.isEmpty())
        path.append(u'\\').append(relative);

    const Sources sources = m_sources();
    const bool userRoot = path.startsWith(u"HKEY_CURRENT_USER");
    const Source &source = userRoot ? sources.user : sources.machine;
    Key key = readKey(loadSourceText(source.isFile, source.fileOrText), path);
    if (path.indexOf(u'\\') < 0)
        key.exists = true;

    // Shell folders that no file names are answered from the defaults.
    const QString shellFolders =
        (userRoot ? QStringLiteral("HKEY_CURRENT_USER\\") : QStringLiteral("HKEY_LOCAL_MACHINE\\"))
            .append(ShellFoldersPath);
    const std::pair<QString, QString> fallbacks[] = {
        {QStringLiteral("Personal"), userRoot ? sources.defaults.personal : QString()},
        {QStringLiteral("AppData"), userRoot ? sources.defaults.appData : QString()},
        {QStringLiteral("Common AppData"), userRoot ? QString() : sources.defaults.commonAppData},
    };
    for (const auto &[valueName, folder] : fallbacks) {
        if (folder.isEmpty())
            continue;
        if (samePath(path, shellFolders)) {
            key.exists = true;
            if (!key.values.contains(valueKey(valueName)))
                key.values.insert(valueKey(valueName), Value{REG_SZ, folder.toUtf8().append('\0')});
        } else if (isBelow(shellFolders, path)) {
            key.exists = true;
        }
    }

    if (!key.exists)
        return ERROR_FILE_NOT_FOUND;
    while (rootName(m_nextHandle) || m_openKeys.contains(m_nextHandle) || m_nextHandle == 0)
        m_nextHandle += 4;
    *handle = m_nextHandle;
    m_openKeys.emplace(m_nextHandle, OpenKey{path, std::move(key)});
    m_nextHandle += 4;
    return ERROR_SUCCESS;
}

qint32 RegistryStore::queryValue(quint32 handle, const QString &valueName, quint32 *type, char *data,
                                 quint32 *size) const {
    const auto open = m_openKeys.find(handle);
    if (open == m_openKeys.end())
        return ERROR_INVALID_HANDLE;
    if (data && !size)
        return ERROR_INVALID_PARAMETER;
    const auto found = open->second.key.values.constFind(valueKey(valueName));
    if (found == open->second.key.values.cend())
        return ERROR_FILE_NOT_FOUND;
    if (type)
        *type = found->type;
    const auto needed = quint32(found->data.size());
    if (data) {
        if (*size < needed) {
            *size = needed;
            return ERROR_MORE_DATA;
        }
        std::memcpy(data, found->data.constData(), needed);
    }
    if (size)
        *size = needed;
    return ERROR_SUCCESS;
}

qint32 RegistryStore::closeKey(quint32 handle) {
    if (rootName(handle))
        return ERROR_SUCCESS;
    return m_openKeys.erase(handle) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

} // namespace Orvex
