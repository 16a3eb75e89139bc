#include "componentsettings.h"

#include "automationconversion.h"
#include "automationerror.h"
#include "errortable.h"
#include "files.h"
#include "inireader.h"
#include "urltext.h"

#include <QDir>
#include <QFileInfo>

namespace Orvex {

namespace {

constexpr QStringView Section = u"General";

// Why a value does not parse, with the number its key's creation error carries.
struct Refusal {
    qint32 number;
    QString reason;
};

QString quoted(const QString &value) {
    return u'"' + withoutUserInfo(value) + u'"';
}

bool booleanOf(const QString &value) {
    try {
        return textToBoolean(value);
    } catch (const AutomationError &error) {
        throw Refusal{error.number(),
                      error.number() == ErrorNumber::Overflow
                          ? quoted(value) + QStringLiteral(" is a number too large")
                          : quoted(value) + QStringLiteral(" is neither True, False nor a number")};
    }
}

bool zeroOrOne(const QString &value) {
    if (value != u"0" && value != u"1")
        throw Refusal{ErrorNumber::TypeMismatch, quoted(value) + QStringLiteral(" is neither 0 nor 1")};
    return value == u"1";
}

std::chrono::seconds secondsOf(const QString &value) {
    const qint64 most = ExchangeLimits::MaxTimeout.count();
    const QString expected = QStringLiteral(" is not a whole number of seconds from 1 to %1").arg(most);
    bool isNumber = false;
    const qlonglong seconds = value.toLongLong(&isNumber);
    if (!isNumber)
        throw Refusal{ErrorNumber::TypeMismatch, quoted(value) + expected};
    if (seconds < 1 || seconds > most)
        throw Refusal{ErrorNumber::InvalidProcedureCall, quoted(value) + expected};
    return std::chrono::seconds(seconds);
}

// A relative PEM file lies beside the INI file that names it, wherever the server was started.
QString pemFile(const QString &value, const QString &iniFile) {
    const QString path = Files::nativePath(value);
    if (iniFile.isEmpty() || QDir::isAbsolutePath(path))
        return path;
    return QFileInfo(Files::nativePath(iniFile)).absoluteDir().filePath(path);
}

int inFlightOf(const QString &value) {
    const QString expected =
        QStringLiteral(" is not a whole number from 1 to %1").arg(ComponentSettings::MostInFlight);
    bool isNumber = false;
    const int count = value.toInt(&isNumber);
    if (!isNumber)
        throw Refusal{ErrorNumber::TypeMismatch, quoted(value) + expected};
    if (count < 1 || count > ComponentSettings::MostInFlight)
        throw Refusal{ErrorNumber::InvalidProcedureCall, quoted(value) + expected};
    return count;
}

struct Key {
    QStringView name;
    // An empty value keeps the default, so that a key can be cleared without deleting its line.
    bool emptyKeepsDefault;
    void (*read)(ComponentSettings &settings, const QString &value, const QString &iniFile);
};

const Key Keys[] = {
    {u"DebugMode", false,
     [](ComponentSettings &s, const QString &v, const QString &) { s.debugMode = booleanOf(v); }},
    {u"ImportUrl", true, [](ComponentSettings &s, const QString &v, const QString &) { s.importUrl = v; }},
    {u"ConnectTimeout", true,
     [](ComponentSettings &s, const QString &v, const QString &) { s.http.connectTimeout = secondsOf(v); }},
    {u"Timeout", true,
     [](ComponentSettings &s, const QString &v, const QString &) { s.http.timeout = secondsOf(v); }},
    {u"ClientCertificate", true,
     [](ComponentSettings &s, const QString &v, const QString &ini) {
         s.http.clientCertificate = pemFile(v, ini);
     }},
    {u"ClientKey", true,
     [](ComponentSettings &s, const QString &v, const QString &ini) { s.http.clientKey = pemFile(v, ini); }},
    {u"ReuseConnection", true,
     [](ComponentSettings &s, const QString &v, const QString &) { s.http.reuseConnection = zeroOrOne(v); }},
    {u"MaxInFlight", true,
     [](ComponentSettings &s, const QString &v, const QString &) { s.maxInFlight = inFlightOf(v); }},
};

const Key *keyNamed(QStringView name) {
    for (const Key &key : Keys) {
        if (key.name.compare(name, Qt::CaseInsensitive) == 0)
            return &key;
    }
    return nullptr;
}

void readKey(const Key &key, ComponentSettings &settings, const QString &value, const QString &iniFile) {
    if (value.isEmpty() && key.emptyKeepsDefault)
        return;
    key.read(settings, value, iniFile);
}

AutomationError creationError(const Refusal &refusal, const Key &key, QStringView section,
                              const QString &iniFile) {
    return AutomationError(refusal.number, QString::fromUtf16(ComponentSource),
                           QStringLiteral("%1: %2 in [%3] of %4: %5")
                               .arg(AutomationError::runtimeDescription(refusal.number), key.name.toString(),
                                    section.toString(), Files::nativePath(iniFile), refusal.reason));
}

} // namespace

ComponentSettings ComponentSettings::read(const QString &iniFile) {
    const ProfileFile file(iniFile);
    ComponentSettings settings;
    for (const Key &key : Keys) {
        const std::optional<QString> value = file.value(Section, key.name);
        if (!value)
            continue;
        try {
            readKey(key, settings, *value, iniFile);
        } catch (const Refusal &refusal) {
            throw creationError(refusal, key, Section, iniFile);
        }
    }
    return settings;
}

ComponentSettings ComponentSettings::read(const QString &iniFile, QStringView section, ComponentSettings base,
                                          const QStringList &keys) {
    const ProfileFile file(iniFile);
    for (const QString &name : keys) {
        const Key *key = keyNamed(name);
        const std::optional<QString> value = key ? file.value(section, key->name) : std::nullopt;
        if (!value)
            continue;
        try {
            readKey(*key, base, *value, iniFile);
        } catch (const Refusal &refusal) {
            throw creationError(refusal, *key, section, iniFile);
        }
    }
    return base;
}

QStringList ComponentSettings::keyNames() {
    QStringList names;
    for (const Key &key : Keys)
        names.append(key.name.toString());
    return names;
}

std::optional<QString> ComponentSettings::valueProblem(QStringView key, QStringView value) {
    const Key *known = keyNamed(key);
    if (!known)
        return QStringLiteral("%1 is not a key of [%2]").arg(key.toString(), Section.toString());
    try {
        ComponentSettings scratch;
        readKey(*known, scratch, value.toString(), QString());
        return std::nullopt;
    } catch (const Refusal &refusal) {
        return refusal.reason;
    }
}

} // namespace Orvex
