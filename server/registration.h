#pragma once

#include <QString>
#include <QStringList>

namespace Orvex {

// What the command line asks of the executable.
enum class ServerCommand { Serve, Register, Unregister, Version, Help, Invalid };

// --regserver, /RegServer, -regserver and their unregister twins in any letter case; --version; --help.
// No argument serves.
ServerCommand parseServerCommand(const QStringList &arguments);
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
