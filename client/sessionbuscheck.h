#pragma once

#include <QString>

#include <chrono>

namespace Orvex {

// Whether the session bus the tool would post through answers, found out on a socket of its own before
// libdbus is handed the address: libdbus waits for ever on a daemon that takes the connection but never
// answers (one stopped with SIGSTOP), and nothing bounds its wait.
struct SessionBusCheck {
    enum class State {
        Answers,  // the bus greets this account: post through it
        Absent,   // no address, or nothing listens there
        Unusable, // another account's socket, a bus that refuses this account, or one that does not answer
    };
    State state = State::Absent;
    QString address; // the address looked at; empty when none
    QString problem; // for Unusable: what is wrong and what to do, in a sentence for the user

    // A daemon that has not answered a connection's greeting by then is stopped or hung: no one should
    // wait on it longer.
    static constexpr std::chrono::milliseconds AnswerTimeLimit{5000};

    // DBUS_SESSION_BUS_ADDRESS, else the user bus of systemd --user ($XDG_RUNTIME_DIR/bus), where libdbus
    // looks when the variable is unset; the latter only when its socket is this account's own.
    static SessionBusCheck ofEnvironment();
};

} // namespace Orvex
