#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <functional>
#include <map>

namespace Orvex {

// The predefined roots, with the platform's values.
inline constexpr quint32 HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr quint32 HKEY_CURRENT_USER = 0x80000001u;
inline constexpr quint32 HKEY_LOCAL_MACHINE = 0x80000002u;
inline constexpr quint32 HKEY_USERS = 0x80000003u;

// Value types.
inline constexpr quint32 REG_NONE = 0;
inline constexpr quint32 REG_SZ = 1;
inline constexpr quint32 REG_EXPAND_SZ = 2;
inline constexpr quint32 REG_BINARY = 3;
inline constexpr quint32 REG_DWORD = 4;
inline constexpr quint32 REG_MULTI_SZ = 7;

// Status codes.
inline constexpr qint32 ERROR_SUCCESS = 0;
inline constexpr qint32 ERROR_FILE_NOT_FOUND = 2;
inline constexpr qint32 ERROR_INVALID_HANDLE = 6;
inline constexpr qint32 ERROR_BAD_PATHNAME = 161;
inline constexpr qint32 ERROR_MORE_DATA = 234;

// Where a registry file holds no value for one of the well-known shell folders, these answer instead.
// An empty text means no answer.
struct ShellFolderDefaults {
    QString personal;
    QString appData;
    QString commonAppData;
};

// A registry read from .reg export files (REGEDIT4 or "Windows Registry Editor Version 5.00"): one for
// the user's root HKEY_CURRENT_USER, one for the machine's roots HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT
// and HKEY_USERS. Read-only. Every openKey reads the file anew and keeps a snapshot of that one key for
// its handle. Key and value names match without regard to letter case.
//
// Values are kept as the ANSI ("A") calls hand them out: strings as UTF-8 bytes with their NUL,
// REG_MULTI_SZ as UTF-8 strings each ended by a NUL plus a final NUL, other types as stored.
class RegistryStore {
public:
    // Files under the XDG configuration folders, found anew on every open, with the XDG user
    // folders as shell-folder defaults.
    static RegistryStore host();
    // Fixed files; a missing file is an empty registry.
    static RegistryStore fromFiles(QString userRegFile, QString machineRegFile,
                                   ShellFolderDefaults defaults = {});
    // Registry contents given as .reg texts.
    static RegistryStore fromText(QString userReg, QString machineReg, ShellFolderDefaults defaults = {});

    // $XDG_CONFIG_HOME/OrvexKelPostJob/user.reg
    static QString userRegistryFile();
    // The first of $XDG_CONFIG_DIRS (default /etc/xdg), then /OrvexKelPostJob/machine.reg
    static QString machineRegistryFile();
    // Personal: the XDG documents folder; AppData: the XDG configuration home; Common AppData: the
    // first XDG configuration folder.
    static ShellFolderDefaults xdgShellFolders();

    // RegOpenKeyA: root is a predefined root or an open handle; subKey is relative to it ("\" between
    // names). Writes a new handle on success.
    qint32 openKey(quint32 root, const QString &subKey, quint32 *handle);
    // RegQueryValueExA: an empty valueName selects the default value. Without data it reports type and
    // size in bytes; with data of *size bytes it copies the value, or answers ERROR_MORE_DATA with the
    // size needed.
    qint32 queryValue(quint32 handle, const QString &valueName, quint32 *type, char *data,
                      quint32 *size) const;
    // RegCloseKey.
    qint32 closeKey(quint32 handle);

    // Handles still open; for tests that check every open is closed.
    qsizetype openHandleCount() const { return qsizetype(m_openKeys.size()); }

    // One value as the ANSI calls hand it out.
    struct Value {
        quint32 type = REG_NONE;
        QByteArray data;
    };

private:
    struct Key {
        bool exists = false;
        // By case-folded name; the default value under the empty name.
        QHash<QString, Value> values;
    };
    // The snapshot of one key as a .reg text describes it; keyPath starts with the root's full name.
    static Key readKey(const QString &regText, const QString &keyPath);
    class KeyReader;

    struct Source {
        bool isFile = true;
        QString fileOrText;
    };
    struct Sources {
        Source user;
        Source machine;
        ShellFolderDefaults defaults;
    };
    struct OpenKey {
        QString path;
        Key key;
    };

    explicit RegistryStore(std::function<Sources()> sources);

    std::function<Sources()> m_sources;
    std::map<quint32, OpenKey> m_openKeys;
    quint32 m_nextHandle = 0x100;
};

} // namespace Orvex
