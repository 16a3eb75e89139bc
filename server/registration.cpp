#include "registration.h"

#include "identity.h"
#include "privatefiles.h"
#include "xdgfolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace Orvex {

namespace {

// Accepts the spellings of a local server's registration switches: --x, -x and /x, any letter case.
bool isSwitch(const QString &argument, QLatin1StringView name) {
    QStringView bare(argument);
    if (bare.startsWith(u"--"))
        bare = bare.mid(2);
    else if (bare.startsWith(u'-') || bare.startsWith(u'/'))
        bare = bare.mid(1);
    else
        return false;
    return bare.compare(name, Qt::CaseInsensitive) == 0;
}

// Never through a link, never over another user's file, readable by the user alone; a folder it needs is
// made for the user alone.
bool writeFile(const QString &path, const QByteArray &contents, QString *error) {
    QString refusal;
    if (!PrivateFiles::replaceFile(QFile::encodeName(path), contents, &refusal)) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, refusal);
        return false;
    }
    return true;
}

bool removeFile(const QString &path, QString *error) {
    QFile file(path);
    if (file.exists() && !file.remove()) {
        *error = QStringLiteral("cannot remove %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

// The bus splits Exec like a shell: a path with spaces or quotes must be quoted.
QByteArray execQuoted(const QString &executable) {
    QByteArray path = executable.toUtf8();
    static const QByteArray plain("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._+-");
    if (std::all_of(path.cbegin(), path.cend(), [](char c) { return plain.contains(c); }))
        return path;
    QByteArray quoted("\"");
    for (const char c : path) {
        if (c == '"' || c == '\\' || c == '$' || c == '`')
            quoted += '\\';
        quoted += c;
    }
    return quoted + '"';
}

} // namespace

namespace {

// MS of "--NAME=MS" into value; false for another argument or a value that is not a whole number >= 0.
bool takeMilliseconds(const QString &argument, QLatin1StringView name, std::chrono::milliseconds &value) {
    const QString prefix = QStringLiteral("--") + name + u'=';
    if (!argument.startsWith(prefix))
        return false;
    bool ok = false;
    const qint64 milliseconds = argument.mid(prefix.size()).toLongLong(&ok);
    if (!ok || milliseconds < 0)
        return false;
    value = std::chrono::milliseconds(milliseconds);
    return true;
}

} // namespace

ServerCommand parseServerCommand(const QStringList &arguments, ServeOptions *options) {
    ServeOptions serving;
    const bool allServing = std::all_of(arguments.begin(), arguments.end(), [&](const QString &argument) {
        return takeMilliseconds(argument, QLatin1StringView("idle-exit"), serving.idleExit) ||
               takeMilliseconds(argument, QLatin1StringView("linger"), serving.linger);
    });
    if (allServing) {
        if (options)
            *options = serving;
        return ServerCommand::Serve;
    }
    if (arguments.size() > 1)
        return ServerCommand::Invalid;
    const QString &argument = arguments.first();
    if (isSwitch(argument, QLatin1StringView("regserver")))
        return ServerCommand::Register;
    if (isSwitch(argument, QLatin1StringView("unregserver")))
        return ServerCommand::Unregister;
    if (argument == u"--version")
        return ServerCommand::Version;
    if (argument == u"--help" || argument == u"-h")
        return ServerCommand::Help;
    return ServerCommand::Invalid;
}

QString serverUsage() {
    return QStringLiteral(
        "Usage: OrvexKelPostJob [--regserver | --unregserver | --version | --help]\n"
        "       OrvexKelPostJob [--idle-exit=MS] [--linger=MS]\n"
        "Without an option it serves OrvexKelPostJob.PostJob on the session bus, which\n"
        "starts it on the first request. --idle-exit: end when no object was made within MS\n"
        "milliseconds of the start (30000). --linger: once ending, keep answering calls\n"
        "already on their way for MS milliseconds after giving up the bus name (0).\n"
        "The options go on the Exec= line of the service file. An installed package needs no registration: "
        "its\n"
        "service file is in place. A server run from a build tree writes its own .service\n"
        "file below $XDG_DATA_HOME with --regserver (/RegServer, -RegServer and any\n"
        "letter case work too) and removes it with --unregserver.\n");
}

RegistrationFiles::RegistrationFiles(const QString &dataHome)
    : serviceFile(dataHome + QStringLiteral("/dbus-1/services/") + QLatin1StringView(Identity::ServiceName) +
                  QStringLiteral(".service"))
    , typeLibrary(dataHome + QStringLiteral("/dbus-1/interfaces/") +
                  QLatin1StringView(Identity::TypeLibraryName) + QStringLiteral(".xml"))
    , record(dataHome + u'/' + QLatin1StringView(Identity::TypeLibraryName) +
             QStringLiteral("/registration.ini")) {}

QString userDataHome() {
    // As every other folder of the component: a relative $XDG_DATA_HOME is ignored.
    return XdgFolders::fromEnvironment().dataHome;
}

QByteArray serviceFileText(const QString &executable) {
    return "[D-BUS Service]\nName=" + QByteArray(Identity::ServiceName) + "\nExec=" + execQuoted(executable) +
           '\n';
}

QByteArray registrationRecordText(const QString &executable) {
    QByteArray text;
    text += "[" + QByteArray(Identity::ProgId) + "]\n";
    text += "ClassId=" + QByteArray(Identity::ClassId) + '\n';
    text += "ProgId=" + QByteArray(Identity::ProgId) + '\n';
    text += "LocalServer=" + executable.toUtf8() + '\n';
    // Earlier identifier first, as in the _IID_POSTJOB record.
    text += "InterfaceIds=" + QByteArray(Identity::EarlierPostJobInterfaceId) + ' ' +
            QByteArray(Identity::PostJobInterfaceId) + '\n';
    text += "TypeLibraryId=" + QByteArray(Identity::TypeLibraryId) + '\n';
    text += "TypeLibraryVersion=" + QByteArray::number(Identity::TypeLibraryMajorVersion) + '.' +
            QByteArray::number(Identity::TypeLibraryMinorVersion) + '\n';
    text += "TypeLibraryLocale=" + QByteArray::number(Identity::TypeLibraryLocale) + '\n';
    return text;
}

QByteArray embeddedTypeLibrary() {
    QFile file(QStringLiteral(":/OrvexKelPostJob/OrvexKelPostJob.xml"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool registerServer(const QString &executable, const QString &dataHome, QString *error) {
    const RegistrationFiles files(dataHome);
    const QByteArray typeLibrary = embeddedTypeLibrary();
    if (typeLibrary.isEmpty()) {
        *error = QStringLiteral("the executable carries no type library");
        return false;
    }
    return writeFile(files.typeLibrary, typeLibrary, error) &&
           writeFile(files.record, registrationRecordText(executable), error)
           // Last, so the bus never starts a server whose registration is incomplete.
           && writeFile(files.serviceFile, serviceFileText(executable), error);
}

bool unregisterServer(const QString &dataHome, QString *error) {
    const RegistrationFiles files(dataHome);
    if (!removeFile(files.serviceFile, error) || !removeFile(files.record, error) ||
        !removeFile(files.typeLibrary, error))
        return false;
    QDir().rmdir(QFileInfo(files.record).absolutePath()); // only if empty
    return true;
}

} // namespace Orvex
