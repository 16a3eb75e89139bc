#include "regfuncs.h"

#include "systemcontext.h"
#include "systeminfo.h"

#include <QByteArray>

namespace RegFuncs {

namespace {

// The size of the buffer that REG_EXPAND_SZ values are expanded into.
constexpr quint32 ExpansionBufferSize = 1024;

Orvex::RegistryStore &registry() {
    return Orvex::SystemContext::current().registry();
}

} // namespace

bool RegOpen(quint32 Root, const QString &SubKey, quint32 &Handle) {
    return registry().openKey(Root, SubKey, &Handle) == Orvex::ERROR_SUCCESS;
}

bool RegClose(quint32 Handle) {
    return registry().closeKey(Handle) == Orvex::ERROR_SUCCESS;
}

bool RegQueryString(quint32 Handle, const QString &ValueName, QString &Value) {
    quint32 type = Orvex::REG_NONE;
    quint32 size = 0;
    if (registry().queryValue(Handle, ValueName, &type, nullptr, &size) != Orvex::ERROR_SUCCESS)
        return false;
    if (type != Orvex::REG_SZ && type != Orvex::REG_EXPAND_SZ)
        return false;

    // The bytes of the ANSI call; the type of the first query decides what follows.
    QByteArray buffer(qsizetype(size), ' ');
    quint32 secondType = Orvex::REG_NONE;
    if (registry().queryValue(Handle, ValueName, &secondType, buffer.data(), &size) != Orvex::ERROR_SUCCESS)
        return false;
    const QString stored = TrimAtNull(QString::fromUtf8(buffer));

    if (type == Orvex::REG_EXPAND_SZ) {
        QString expansion(ExpansionBufferSize, QChar(u'\0'));
        const quint32 needed = Orvex::SystemContext::current().system().expandEnvironmentStrings(
            stored, expansion, ExpansionBufferSize);
        // An expansion that does not fit would leave a cut or empty path: the value is unreadable.
        if (needed > ExpansionBufferSize)
            return false;
        Value = TrimAtNull(expansion);
        return true;
    }
    Value = stored;
    return true;
}

QString WindowsKey() {
    return QStringLiteral("SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
}

QString WindowsNtKey() {
    return QStringLiteral("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion");
}

QString ShellFoldersKey() {
    return WindowsKey() + QStringLiteral("\\Explorer\\Shell Folders");
}

} // namespace RegFuncs
