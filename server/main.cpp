#include "automationserver.h"
#include "clock.h"
#include "display.h"
#include "identity.h"
#include "modulehttprequest.h"
#include "modulelibrary.h"
#include "registration.h"
#include "serverlogging.h"
#include "signalwatcher.h"
#include "statuswindow.h"
#include "warningbox.h"
#include "xdgfolders.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QTextStream>

#include <csignal>
#include <memory>
#include <unistd.h>

namespace {

QStringList argumentsOf(int argc, char **argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// The folder of the executable, without a trailing separator.
QString programFolder() {
    QString folder = QCoreApplication::applicationDirPath();
    while (folder.size() > 1 && folder.endsWith(u'/'))
        folder.chop(1);
    return folder;
}

int runCommand(Orvex::ServerCommand command, int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QString error;
    switch (command) {
    case Orvex::ServerCommand::Version:
        out << Orvex::Identity::VersionText << Qt::endl;
        return EXIT_SUCCESS;
    case Orvex::ServerCommand::Help:
        out << Orvex::serverUsage();
        return EXIT_SUCCESS;
    case Orvex::ServerCommand::Register:
        if (Orvex::registerServer(QCoreApplication::applicationFilePath(), Orvex::userDataHome(), &error))
            return EXIT_SUCCESS;
        break;
    case Orvex::ServerCommand::Unregister:
        if (Orvex::unregisterServer(Orvex::userDataHome(), &error))
            return EXIT_SUCCESS;
        break;
    case Orvex::ServerCommand::Invalid:
        err << Orvex::serverUsage();
        return 2;
    case Orvex::ServerCommand::Serve:
        break;
    }
    err << "OrvexKelPostJob: " << error << Qt::endl;
    return EXIT_FAILURE;
}

// Serves on the session bus until the process is to end.
int serveOnBus(std::unique_ptr<Orvex::StatusWindow> window, const Orvex::ServeOptions &options) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qCCritical(lcServer).noquote() << "no session bus:" << bus.lastError().message();
        return EXIT_FAILURE;
    }

    Orvex::AutomationServer server({Orvex::ComponentFolders(programFolder()), Orvex::systemClock(),
                                    Orvex::moduleHttpRequestFactory(), std::move(window), options.idleExit,
                                    options.linger},
                                   bus);
    QString error;
    if (!server.start(&error)) {
        qCCritical(lcServer).noquote() << error;
        return EXIT_FAILURE;
    }

    // The system ending the session closes the window as the user would.
    Orvex::SignalWatcher signalWatcher({SIGTERM, SIGHUP});
    QObject::connect(&signalWatcher, &Orvex::SignalWatcher::received, &server,
                     &Orvex::AutomationServer::closeBySystem);
    return QCoreApplication::exec();
}

// The display module where a screen may exist. Without one the server still serves, without a window.
Orvex::Display *loadDisplay() {
    if (!hasDisplay())
        return nullptr;
    QString error;
    auto *entry =
        Orvex::moduleEntry<Orvex::DisplayEntry>(Orvex::DisplayModuleName, Orvex::DisplayEntryName, &error);
    if (!entry) {
        qCWarning(lcServer).noquote() << "serving without a window: cannot load the display module:" << error;
        return nullptr;
    }
    return entry();
}

// With a screen, the window and the warning box.
int serveOnScreen(Orvex::Display &display, const Orvex::ServeOptions &options, int argc, char **argv) {
    const std::unique_ptr<QCoreApplication> app = display.makeApplication(argc, argv);
    // An offscreen window or box could never be seen or answered, and a box would hold every call.
    if (!display.isOnScreen())
        return serveOnBus(nullptr, options);
    Orvex::setProcessWarningBox(&display.warningBox());
    const int status = serveOnBus(display.makeStatusWindow(), options);
    Orvex::setProcessWarningBox(nullptr);
    return status;
}

// A server the bus started leaves the session it inherited: under a dbus-run-session in a terminal, that
// terminal's Ctrl-C would otherwise end it in the middle of an exchange.
void leaveTheTerminalsSession() {
    if (qEnvironmentVariableIsSet("DBUS_STARTER_ADDRESS"))
        ::setsid();
}

int serve(const Orvex::ServeOptions &options, int argc, char **argv) {
    leaveTheTerminalsSession();
    // Under a file size limit a write past it fails with EFBIG, which costs one record, instead of ending
    // the server.
    std::signal(SIGXFSZ, SIG_IGN);
    if (Orvex::Display *display = loadDisplay())
        return serveOnScreen(*display, options, argc, argv);
    // No one could see a window: the status text is kept on its own, and the server neither loads the
    // window system nor spends fonts and layout before its first reply.
    QCoreApplication app(argc, argv);
    return serveOnBus(nullptr, options);
}

// Why command cannot run for want of a home folder; nothing when it can.
std::optional<QString> missingHome(Orvex::ServerCommand command) {
    using Use = Orvex::XdgFolders::HomeUse;
    switch (command) {
    case Orvex::ServerCommand::Serve:
        return Orvex::XdgFolders::missingHome(Use::SettingsAndState);
    case Orvex::ServerCommand::Register:
    case Orvex::ServerCommand::Unregister:
        return Orvex::XdgFolders::missingHome(Use::Registration);
    case Orvex::ServerCommand::Version:
    case Orvex::ServerCommand::Help:
    case Orvex::ServerCommand::Invalid:
        break;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char **argv) {
    Orvex::ServeOptions options;
    const Orvex::ServerCommand command = Orvex::parseServerCommand(argumentsOf(argc, argv), &options);
    // Never the built-in board and a journal below the root folder in silence.
    if (const std::optional<QString> missing = missingHome(command)) {
        QTextStream(stderr) << "OrvexKelPostJob: " << *missing << Qt::endl;
        return 2;
    }
    if (command != Orvex::ServerCommand::Serve)
        return runCommand(command, argc, argv);
    return serve(options, argc, argv);
}
