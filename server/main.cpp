#include "automationserver.h"
#include "clock.h"
#include "curlhttprequest.h"
#include "identity.h"
#include "messageboxwarning.h"
#include "programicon.h"
#include "registration.h"
#include "serverlogging.h"
#include "signalwatcher.h"
#include "warningbox.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDir>
#include <QTextStream>

#include <csignal>
#include <memory>

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
int serveOnBus(bool onScreen) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qCCritical(lcServer).noquote() << "no session bus:" << bus.lastError().message();
        return EXIT_FAILURE;
    }

    Orvex::AutomationServer server({Orvex::ComponentFolders(programFolder()), Orvex::systemClock(),
                                    Orvex::curlHttpRequestFactory(), onScreen},
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

int serve(int argc, char **argv) {
    // Under a file size limit a write past it fails with EFBIG, which costs one record, instead of ending
    // the server.
    std::signal(SIGXFSZ, SIG_IGN);
    // No one could see a window: no window system at all, and the status text is kept on its own. That
    // spares a bus-started server fonts and layout before its first reply.
    if (!hasDisplay()) {
        QCoreApplication app(argc, argv);
        return serveOnBus(false);
    }

    // A platform that cannot reach the display falls back to offscreen rather than ending the server.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM",
                qEnvironmentVariableIsEmpty("DISPLAY") ? "wayland;offscreen" : "xcb;offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // The warning box and any other window of the process carry the program's icon too.
    QApplication::setWindowIcon(Orvex::programIcon());

    // An offscreen box could never be answered and would hold every call; the headless one returns at once.
    const bool onScreen = QGuiApplication::platformName() != u"offscreen";
    Orvex::MessageBoxWarning messageBox;
    if (onScreen)
        Orvex::setProcessWarningBox(&messageBox);
    const int status = serveOnBus(onScreen);
    Orvex::setProcessWarningBox(nullptr);
    return status;
}

} // namespace

int main(int argc, char **argv) {
    const Orvex::ServerCommand command = Orvex::parseServerCommand(argumentsOf(argc, argv));
    if (command != Orvex::ServerCommand::Serve)
        return runCommand(command, argc, argv);
    return serve(argc, argv);
}
