#pragma once

#include "registrystore.h"

#include <QString>

// Registry access and the well-known folders of the user and of all users. The registry and the
// environment come from Orvex::SystemContext::current().
namespace RegFuncs {

using Orvex::HKEY_CLASSES_ROOT;
using Orvex::HKEY_CURRENT_USER;
using Orvex::HKEY_LOCAL_MACHINE;
using Orvex::HKEY_USERS;

// Text up to, not including, its first NUL.
QString TrimAtNull(const QString &Text);

// True when SubKey below Root was opened; Handle then names it until RegClose.
bool RegOpen(quint32 Root, const QString &SubKey, quint32 &Handle);
// Reads a REG_SZ or REG_EXPAND_SZ value (the latter with its %NAME% references expanded); an empty
// ValueName reads the key's default value. Value is written only when the result is true.
bool RegQueryString(quint32 Handle, const QString &ValueName, QString &Value);
bool RegClose(quint32 Handle);

QString WindowsKey();
QString WindowsNtKey();
QString ShellFoldersKey();

// Each gives a folder ending in a separator, or the empty text when it cannot be found.
QString GetMyDocumentsPath();
QString GetAppDataPath();
QString GetCommonAppDataPath();
// The Public profile folder on NT 6.0 and 6.1, the all-users application data folder elsewhere.
QString GetCommonDataRoot();
// The folder of an executable registered under App Paths, up to and including its last separator.
QString GetAppPath(const QString &ExeName);

} // namespace RegFuncs
