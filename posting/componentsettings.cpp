#include "componentsettings.h"

#include "automationconversion.h"
#include "automationerror.h"
#include "boardendpoint.h"
#include "errortable.h"
#include "files.h"
#include "inireader.h"
#include "inisettings.h"
#include "likelyname.h"
#include "postgresdatabase.h"
#include "urltext.h"

#include <QDir>
#include <QFileInfo>
#include <QSysInfo>

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

// A whole number from least to most; unit ("seconds", "days") names what it counts, when anything.
qint64 wholeNumberOf(const QString &value, qint64 least, qint64 most, QStringView unit = {}) {
    const QString counted = unit.isEmpty() ? QString() : QStringLiteral(" of ") + unit.toString();
    const QString expected =
        QStringLiteral(" is not a whole number%1 from %2 to %3").arg(counted).arg(least).arg(most);
    bool isNumber = false;
    const qlonglong number = value.toLongLong(&isNumber);
    if (!isNumber)
        throw Refusal{ErrorNumber::TypeMismatch, quoted(value) + expected};
    if (number < least || number > most)
        throw Refusal{ErrorNumber::InvalidProcedureCall, quoted(value) + expected};
    return number;
}

std::chrono::seconds secondsOf(const QString &value) {
    return std::chrono::seconds(wholeNumberOf(value, 1, ExchangeLimits::MaxTimeout.count(), u"seconds"));
}

// A relative PEM file lies beside the INI file that names it, wherever the server was started.
QString pemFile(const QString &value, const QString &iniFile) {
    const QString path = Files::nativePath(value);
    if (iniFile.isEmpty() || QDir::isAbsolutePath(path))
        return path;
    return QFileInfo(Files::nativePath(iniFile)).absoluteDir().filePath(path);
}

// Said at creation, so that no object is made whose every posting would fail on the URL.
QString importUrlOf(const QString &value) {
    if (const std::optional<UrlRefusal> refusal = importUrlRefusal(value))
        throw Refusal{ErrorNumber::InvalidProcedureCall, refusal->description};
    return value;
}

// Said at creation, so that no object is made whose every posting would find no journal.
QString journalOf(const QString &value) {
    const QString shown = u'"' + postgresDisplayText(value) + u'"';
    if (!isPostgresUri(value))
        throw Refusal{ErrorNumber::InvalidProcedureCall,
                      shown + QStringLiteral(" is neither empty (the journal file in the state folder) nor a "
                                             "PostgreSQL URI (postgresql://...)")};
    if (const std::optional<QString> problem = postgresUriProblem(value))
        throw Refusal{ErrorNumber::InvalidProcedureCall,
                      shown + QStringLiteral(" does not parse: ") + *problem};
    return value;
}

// A name as DNS writes one, so that history's host column and --host read it back as it was written.
QString hostNameOf(const QString &value) {
    constexpr qsizetype LongestName = 253;
    const bool allowed = std::all_of(value.cbegin(), value.cend(), [](QChar c) {
        return (c.unicode() < 128 && c.isLetterOrNumber()) || c == u'-' || c == u'.' || c == u'_';
    });
    if (!allowed || value.size() > LongestName)
        throw Refusal{ErrorNumber::InvalidProcedureCall,
                      quoted(value) +
                          QStringLiteral(" is not a host name (letters, digits, '-', '.', '_', up to 253)")};
    return value;
}

// How a key's value comes out of the file: whole, or as the suite's GetIniString gives it (the default
// when the key is missing, cut to 254 characters).
using ValueReader = std::optional<QString> (*)(const ProfileFile &file, const QString &iniFile,
                                               QStringView key);

std::optional<QString> wholeValue(const ProfileFile &file, const QString &, QStringView key) {
    return file.value(Section, key);
}

std::optional<QString> suiteValueOrFalse(const ProfileFile &, const QString &iniFile, QStringView key) {
    // The suite's own reader, with its default "False", so that the suite's modules are on this path.
    return FuncLib::GetIniString(iniFile, Section.toString(), key.toString(), QStringLiteral("False"));
}

// A value as the file would write it, for config show.
QString secondsText(std::chrono::seconds value) {
    return QString::number(value.count());
}

// One row per key: its name, how it is read and its check, which is its reader, and how its value is
// written out: creation, config show and config set all ask it. A key added later is one more row.
struct Key {
    QStringView name;
    // An empty value keeps the default, so that a key can be cleared without deleting its line.
    bool emptyKeepsDefault;
    void (*read)(ComponentSettings &settings, const QString &value, const QString &iniFile);
    QString (*text)(const ComponentSettings &settings);
    ValueReader valueIn = wholeValue;
    // How any text shows the value.
    QString (*shown)(QStringView value) = withoutUserInfo;
};

QString shownJournal(QStringView value) {
    return postgresDisplayText(value.toString());
}

const Key Keys[] = {
    {u"DebugMode", false,
     [](ComponentSettings &s, const QString &v, const QString &) { s.debugMode = booleanOf(v); },
     [](const ComponentSettings &s) {
         return s.debugMode ? QStringLiteral("True") : QStringLiteral("False");
     },
     suiteValueOrFalse},
    {u"ImportUrl", true,
     [](ComponentSettings &s, const QString &v, const QString &) { s.importUrl = importUrlOf(v); },
     [](const ComponentSettings &s) { return s.importUrl.isEmpty() ? boardEndpointUrl() : s.importUrl; }},
    {u"ConnectTimeout", true,
     [](ComponentSettings &s, const QString &v, const QString &) { s.http.connectTimeout = secondsOf(v); },
     [](const ComponentSettings &s) { return secondsText(s.http.connectTimeout); }},
    {u"Timeout", true,
     [](ComponentSettings &s, const QString &v, const QString &) { s.http.timeout = secondsOf(v); },
     [](const ComponentSettings &s) { return secondsText(s.http.timeout); }},
    {u"ClientCertificate", true,
     [](ComponentSettings &s, const QString &v, const QString &ini) {
         s.http.clientCertificate = pemFile(v, ini);
     },
     [](const ComponentSettings &s) { return s.http.clientCertificate; }},
    {u"ClientKey", true,
     [](ComponentSettings &s, const QString &v, const QString &ini) { s.http.clientKey = pemFile(v, ini); },
     [](const ComponentSettings &s) { return s.http.clientKey; }},
    {u"ReuseConnection", true,
     [](ComponentSettings &s, const QString &v, const QString &) { s.http.reuseConnection = zeroOrOne(v); },
     [](const ComponentSettings &s) { return QString::number(s.http.reuseConnection ? 1 : 0); }},
    {u"RetryFor", true,
     [](ComponentSettings &s, const QString &v, const QString &) {
         s.retryFor =
             std::chrono::seconds(wholeNumberOf(v, 0, ExchangeLimits::MaxRetryFor.count(), u"seconds"));
     },
     [](const ComponentSettings &s) { return secondsText(s.retryFor); }},
    {u"JournalDays", true,
     [](ComponentSettings &s, const QString &v, const QString &) {
         // Up to a hundred years: any longer is a typo, not a wish.
         s.journalDays = int(wholeNumberOf(v, 0, 36500, u"days"));
     },
     [](const ComponentSettings &s) { return QString::number(s.journalDays); }},
    {u"MaxInFlight", true,
     [](ComponentSettings &s, const QString &v, const QString &) {
         s.maxInFlight = int(wholeNumberOf(v, 1, ComponentSettings::MostInFlight));
     },
     [](const ComponentSettings &s) { return QString::number(s.maxInFlight); }},
    {u"Journal", true,
     [](ComponentSettings &s, const QString &v, const QString &) { s.journal = journalOf(v); },
     [](const ComponentSettings &s) { return s.journal; }, wholeValue, shownJournal},
    {u"HostName", true,
     [](ComponentSettings &s, const QString &v, const QString &) { s.hostName = hostNameOf(v); },
     [](const ComponentSettings &s) { return s.host(); }},
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
        const std::optional<QString> value = key.valueIn(file, iniFile, key.name);
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

std::optional<QString> ComponentSettings::canonicalKey(QStringView name) {
    const Key *known = keyNamed(name);
    return known ? std::optional<QString>(known->name.toString()) : std::nullopt;
}

QString ComponentSettings::valueText(QStringView key) const {
    const Key *known = keyNamed(key);
    return known ? known->text(*this) : QString();
}

std::optional<QString> ComponentSettings::likelyKey(QStringView name) {
    return likelyName(name, keyNames());
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

QString ComponentSettings::host() const {
    return hostName.isEmpty() ? QSysInfo::machineHostName() : hostName;
}

QString ComponentSettings::shownValue(QStringView key, const QString &value) {
    const Key *known = keyNamed(key);
    return known ? known->shown(value) : withoutUserInfo(value);
}

} // namespace Orvex
