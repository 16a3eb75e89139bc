// The .reg reader (RegistryStore) on any file content: every key the file names is opened below its
// root, every value it names is queried with too small and with large enough buffers.
// Input: the file's bytes, used for the user's and the machine's file alike.

#include "fuzzsupport.h"

#include "registrystore.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringList>

#include <vector>

namespace {

using Orvex::Fuzz::require;

// The text as a .reg file may be encoded: UTF-16LE after its mark, else UTF-8.
QString decoded(const QByteArray &bytes) {
    if (bytes.startsWith("\xFF\xFE"))
        return QStringDecoder(QStringConverter::Utf16LE).decode(bytes.mid(2));
    return QString::fromUtf8(bytes);
}

struct Root {
    quint32 root;
    const char16_t *prefix;
};

// The root and the rest of a key name as written in a section header.
std::pair<quint32, QString> split(QString name) {
    static const Root roots[] = {
        {Orvex::HKEY_CURRENT_USER, u"HKEY_CURRENT_USER"},   {Orvex::HKEY_CURRENT_USER, u"HKCU"},
        {Orvex::HKEY_LOCAL_MACHINE, u"HKEY_LOCAL_MACHINE"}, {Orvex::HKEY_LOCAL_MACHINE, u"HKLM"},
        {Orvex::HKEY_CLASSES_ROOT, u"HKEY_CLASSES_ROOT"},   {Orvex::HKEY_USERS, u"HKEY_USERS"},
    };
    for (const Root &root : roots) {
        const QString prefix = QString::fromUtf16(root.prefix);
        if (name.startsWith(prefix, Qt::CaseInsensitive))
            return {root.root, name.mid(prefix.size() + 1)};
    }
    return {Orvex::HKEY_CURRENT_USER, name};
}

void queryEverything(const Orvex::RegistryStore &store, quint32 handle, const QStringList &valueNames) {
    for (const QString &name : valueNames) {
        quint32 type = 0;
        quint32 size = 0;
        if (store.queryValue(handle, name, &type, nullptr, &size) != Orvex::ERROR_SUCCESS)
            continue;
        // Too small by one: the size needed comes back and nothing is copied.
        std::vector<char> data(size + 1, '\x5A');
        if (size > 0) {
            quint32 small = size - 1;
            require(store.queryValue(handle, name, &type, data.data(), &small) == Orvex::ERROR_MORE_DATA &&
                        small == size,
                    "a small buffer asks for the size needed");
        }
        quint32 enough = size + 1;
        require(store.queryValue(handle, name, &type, data.data(), &enough) == Orvex::ERROR_SUCCESS &&
                    enough == size,
                "a large buffer takes the value");
        require(data[size] == '\x5A', "nothing is written past the value");
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
    const QString text = decoded(content);

    static const QRegularExpression section(QStringLiteral("^\\s*\\[-?([^\\n]*)\\]"),
                                            QRegularExpression::MultilineOption);
    static const QRegularExpression value(QStringLiteral("^\\s*\"((?:[^\"\\\\\\n]|\\\\.)*)\"\\s*="),
                                          QRegularExpression::MultilineOption);
    QStringList keys{QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders")};
    for (auto it = section.globalMatch(text); it.hasNext() && keys.size() < 6;)
        keys.append(it.next().captured(1));
    QStringList valueNames{QString(), QStringLiteral("Personal")};
    for (auto it = value.globalMatch(text); it.hasNext() && valueNames.size() < 8;)
        valueNames.append(it.next().captured(1).replace(QStringLiteral("\\\\"), QStringLiteral("\\")));

    Orvex::RegistryStore store = Orvex::RegistryStore::fromFiles(
        file.path(), file.path(), {QStringLiteral("/docs"), QString(), QString()});
    for (const QString &key : keys) {
        const auto [root, subKey] = split(key);
        quint32 handle = 0;
        if (store.openKey(root, subKey, &handle) != Orvex::ERROR_SUCCESS)
            continue;
        queryEverything(store, handle, valueNames);
        // A key opened below an open handle.
        quint32 child = 0;
        if (store.openKey(handle, QStringLiteral("Sub"), &child) == Orvex::ERROR_SUCCESS)
            require(store.closeKey(child) == Orvex::ERROR_SUCCESS, "a child key closes");
        require(store.closeKey(handle) == Orvex::ERROR_SUCCESS, "an open key closes");
        require(store.closeKey(handle) == Orvex::ERROR_INVALID_HANDLE, "a closed key is no handle");
    }
    require(store.openHandleCount() == 0, "every handle is closed");
    return 0;
}
