#pragma once

#include "boardcalls.h"
#include "callqueue.h"
#include "hostcontext.h"
#include "journalwriter.h"
#include "postingengine.h"
#include "retryclock.h"
#include "statusview.h"
#include "statuswindow.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>

#include <chrono>
#include <memory>

namespace Orvex {

// A server that has made no object this long after its start ends by itself: an introspection, or a late
// call to the path of an object released before, starts one that nothing else would end.
inline constexpr std::chrono::milliseconds IdleExitTimeout = std::chrono::seconds(30);

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
        // The status window; none where no one could see it.
        std::unique_ptr<StatusWindow> window;
        // Tests shorten it.
        std::chrono::milliseconds idleExit = IdleExitTimeout;
    };

    AutomationServer(Host host, QDBusConnection connection, QObject *parent = nullptr);
    ~AutomationServer() override;

    // Registers the class object, then claims the bus name. False, with a reason, when either fails. From
    // then on, a server that has made no object within the idle time ends as on a release.
    bool start(QString *error);

    // Creation of a PostJob object in its order; throws AutomationError and then makes no object.
    QDBusObjectPath createObject();
    // Releasing any object unloads the status window, which ends the process.
    void releaseObject();
    // The system asks the window to close (SIGTERM, SIGHUP).
    void closeBySystem();

    CallQueue &calls() { return m_calls; }
    const JournalWriter &journal() const { return m_journal; }
    BoardCalls &boardCalls() { return m_boardCalls; }

private:
    void showStatusWindow();
    void watchBusConnection();
    void endIfIdle();
    Q_SLOT void busDisconnected();
    // Ends the process with every object in it: at once, or, with an exchange in flight, as soon as that
    // exchange has returned and its caller has the result.
    void endProcess();
    // Ends once no call runs and no posting is in flight, so every caller has the result first.
    void finishEndingWhenDone();
    void finishEnding();
    void answerLateCalls();
    void flushReplies();

    // The status window on a screen; without one, its text alone, which costs no fonts or layout.
    std::unique_ptr<StatusWindow> m_window;
    StatusText m_windowlessText;
    // Every posting in flight, the serial ones through m_serialView: declared before m_host, which points
    // to the view, like the two below.
    InFlightStatus m_inFlight;
    InFlightView m_serialView;
    EventLoopRetryClock m_retryClock;
    JournalWriter m_journal;
    HostContext m_host;
    QDBusConnection m_connection;
    CallQueue m_calls;
    PostingEngine m_engine;
    BoardCalls m_boardCalls{m_calls, m_engine};
    std::chrono::milliseconds m_idleExit;
    std::unique_ptr<ClassFactory> m_factory;
    std::vector<std::unique_ptr<PostJobObject>> m_objects;
    int m_lastSerial = 0;
    bool m_exchangeInFlight = false;
    bool m_ending = false;
    bool m_ended = false;
    bool m_busLost = false;
};

} // namespace Orvex
