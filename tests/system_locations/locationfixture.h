#pragma once

#include "registrystore.h"
#include "systemcontext.h"
#include "systeminfo.h"

#include <QHash>
#include <QString>

#include <optional>

// A registry, a version record and an environment of the test's own, current for the fixture's lifetime.
struct LocationFixture {
    LocationFixture(const QString &userReg, const QString &machineReg,
                    std::optional<Orvex::OsVersionInfo> version, QHash<QString, QString> environment = {})
        : registry(Orvex::RegistryStore::fromText(userReg, machineReg))
        , system(std::move(version), std::move(environment))
        , scope(registry, system) {}

    Orvex::RegistryStore registry;
    Orvex::FixedSystemInfo system;
    Orvex::ScopedSystemContext scope;
};

inline QString regFile(const QString &body) {
    return QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n") + body;
}

// A "Name"="text" line, with the file format's escapes.
inline QString regString(const QString &name, QString text) {
    text.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""));
    return QStringLiteral("\"%1\"=\"%2\"\r\n").arg(name, text);
}

// A "Name"=hex(2): line holding text as the 5.00 format stores expandable strings.
inline QString regExpandString(const QString &name, const QString &text) {
    QStringList bytes;
    for (const QChar c : text + QChar(u'\0')) {
        bytes << QString::number(c.unicode() & 0xFF, 16) << QString::number(c.unicode() >> 8, 16);
    }
    return QStringLiteral("\"%1\"=hex(2):%2\r\n").arg(name, bytes.join(u','));
}

inline const QString ShellFoldersSection =
    QStringLiteral("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders]\r\n");

inline Orvex::OsVersionInfo versionRecord(quint32 platformId, quint32 major, quint32 minor) {
    return Orvex::FixedSystemInfo::version(platformId, major, minor);
}
