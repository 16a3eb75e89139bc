#pragma once

#include "callqueue.h"
#include "frmpostjob.h"
#include "hostcontext.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>

#include <memory>

namespace Orvex {

class ClassFactory;
class Clock;
class PostJobObject;

// The process around the PostJob objects: the class object on the bus, the objects, the one status
// window, and the end of the process when that window is unloaded.
class AutomationServer final : public QObject {
    Q_OBJECT

public:
    // What the process decides once for every object it will serve.
    struct Host {
        ComponentFolders folders;
        const Clock &clock;
        HttpRequestFactory requestFactory;
    };

    AutomationServer(Host host, QDBusConnection connection, QObject *parent = nullptr);
    ~AutomationServer() override;

    // Registers the class object, then claims the bus name. False, with a reason, when either fails.
    bool start(QString *error);

    // Creation of a PostJob object in its order; throws AutomationError and then makes no object.
    QDBusObjectPath createObject();
    // Releasing any object unloads the status window, which ends the process.
    void releaseObject();
    // The system asks the window to close (SIGTERM, SIGHUP).
    void closeBySystem();

    CallQueue &calls() { return m_calls; }
    bool isEnding() const { return m_ending; }

private:
    void showStatusWindow();
    void watchBusConnection();
    Q_SLOT void busDisconnected();
    // Ends the process at once, with every object in it.
    void endProcess();
    void flushReplies();

    frmPostJob m_window;
    HostContext m_host;
    QDBusConnection m_connection;
    CallQueue m_calls;
    std::unique_ptr<ClassFactory> m_factory;
    std::vector<std::unique_ptr<PostJobObject>> m_objects;
    int m_lastSerial = 0;
    bool m_ending = false;
    bool m_busLost = false;
};

} // namespace Orvex
