#pragma once

#include <QString>

#include <sys/types.h>
#include <thread>

namespace Orvex {

// A session bus of the tool's own for a run without a reachable one (cron, ssh, a service account), as
// dbus-run-session makes it: dbus-daemon --session, so it finds the server's service file where a
// normal session bus would. The daemon runs in a session of its own, so a terminal's Ctrl-C reaches the
// tool alone and the server it activates finishes the listing in flight; it dies with the tool
// (PR_SET_PDEATHSIG), and the server ends with its bus. Of the daemon's standard error, which the server
// shares, only the daemon's own lines are dropped: the server's warnings still reach the tool's.
class PrivateSessionBus {
public:
    PrivateSessionBus() = default;
    // Stops the daemon and relays what its children still write, for a few seconds at most.
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus &) = delete;
    PrivateSessionBus &operator=(const PrivateSessionBus &) = delete;

    // Starts the daemon and points DBUS_SESSION_BUS_ADDRESS of this process at it. False with *error.
    bool start(QString *error);

private:
    void stopDaemon();
    void relayStandardError();

    pid_t m_daemon = -1;
    int m_standardError = -1; // read end of the daemon's (and so the server's) standard error
    int m_stopRelay[2] = {-1, -1};
    std::thread m_relay;
};

} // namespace Orvex
