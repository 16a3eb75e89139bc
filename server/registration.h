#pragma once

#include <QString>
#include <QStringList>

#include <chrono>

namespace Orvex {

// What the command line asks of the executable.
enum class ServerCommand { Serve, Register, Unregister, Version, Help, Invalid };

// A server that has made no object this long after its start ends by itself: an introspection, or a late
// call to the path of an object released before, starts one that nothing else would end.
inline constexpr std::chrono::milliseconds IdleExitTimeout = std::chrono::seconds(30);

// How a serving process times its end, from its options.
struct ServeOptions {
    std::chrono::milliseconds idleExit = IdleExitTimeout;
    // Once it has given up its bus name, how long an ending server still answers calls on their way
    // "Ended" before it exits; at least until a round trip to the bus brings none.
    std::chrono::milliseconds linger{0};
};

// --regserver, /RegServer, -regserver and their unregister twins in any letter case; --version; --help.
// No argument serves, and so do only --idle-exit=MS and --linger=MS, which fill options when given.
ServerCommand parseServerCommand(const QStringList &arguments, ServeOptions *options = nullptr);
QString serverUsage();

// Where registration writes, below one XDG data folder.
struct RegistrationFiles {
    explicit RegistrationFiles(const QString &dataHome);

    QString serviceFile; // dbus-1/services/OrvexKelPostJob.PostJob.service
    QString typeLibrary; // dbus-1/interfaces/OrvexKelPostJob.xml
    QString record;      // OrvexKelPostJob/registration.ini
};

// The user's XDG data folder ($XDG_DATA_HOME, else ~/.local/share).
QString userDataHome();

// The three-line .service file that lets the bus start executable.
QByteArray serviceFileText(const QString &executable);
// Class id, ProgID, both interface ids, type library id and version, and the local server.
QByteArray registrationRecordText(const QString &executable);
// The type library as embedded in the executable.
QByteArray embeddedTypeLibrary();

// Writes or removes the registration files; false with a reason on failure.
bool registerServer(const QString &executable, const QString &dataHome, QString *error);
bool unregisterServer(const QString &dataHome, QString *error);

} // namespace Orvex
