#include "privatesessionbus.h"

#include "clientlogging.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace Orvex {

namespace {

// The daemon writes its address at once; a machine too loaded for that within this is not one to post from.
constexpr int StartTimeoutMs = 10000;
// dbus-daemon ends at once on SIGTERM; past this it is killed.
constexpr int StopTimeoutMs = 5000;
// After the daemon has gone the server ends with its bus; its last warnings are relayed this long at most,
// so a server still finishing an exchange cannot hold the tool.
constexpr int RelayDrainMs = 3000;
// A line longer than this is passed on in pieces rather than held.
constexpr qsizetype MaxHeldLine = 64 * 1024;
// The daemon's standard error is fd 1 and 2 of the child; its address comes on this one.
constexpr int AddressFd = 3;

// dbus-daemon prefixes every line of its own ("Activating service ..."); a cron mail is no place for them.
bool isBusDaemonLine(QByteArrayView line) {
    return line.startsWith("dbus-daemon[");
}

void writeAll(int fd, const char *data, qsizetype size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, std::size_t(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        data += written;
        size -= written;
    }
}

void closeFd(int &fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// The environment the daemon passes to what it activates, without a bus address: it sets its own.
std::vector<QByteArray> daemonEnvironment() {
    std::vector<QByteArray> environment;
    for (char **entry = environ; *entry; ++entry) {
        const QByteArrayView variable(*entry);
        if (variable.startsWith("DBUS_SESSION_BUS_ADDRESS=") || variable.startsWith("DBUS_STARTER_"))
            continue;
        environment.emplace_back(*entry);
    }
    return environment;
}

std::vector<char *> pointersTo(std::vector<QByteArray> &texts) {
    std::vector<char *> pointers;
    for (QByteArray &text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// In the child between fork and exec: async-signal-safe calls only.
[[noreturn]] void execDaemon(pid_t parent, int addressFd, int errorFd, const char *program, char **arguments,
                             char **environment) {
    // Out of the terminal's session, so its Ctrl-C and hangup reach the tool alone.
    ::setsid();
    // Gone with the tool, however the tool ends; it may have died before this took effect.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent)
        ::_exit(127);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const int nothing = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (nothing < 0 || ::dup2(nothing, STDIN_FILENO) < 0 || ::dup2(errorFd, STDOUT_FILENO) < 0 ||
        ::dup2(errorFd, STDERR_FILENO) < 0)
        ::_exit(127);
    if (addressFd == AddressFd ? ::fcntl(AddressFd, F_SETFD, 0) < 0 : ::dup2(addressFd, AddressFd) < 0)
        ::_exit(127);
    ::execve(program, arguments, environment);
    ::_exit(127);
}

// The first line the daemon writes on fd, its address; empty when it ends or stays silent.
QByteArray readAddress(int fd) {
    QByteArray address;
    const QDeadlineTimer deadline(StartTimeoutMs);
    while (!address.contains('\n')) {
        pollfd watch = {fd, POLLIN, 0};
        const int ready = ::poll(&watch, 1, int(deadline.remainingTime()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return QByteArray();
        char buffer[512];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return QByteArray();
        address.append(buffer, got);
    }
    return address.left(address.indexOf('\n')).trimmed();
}

// What a daemon that failed to start wrote, for the error message.
QByteArray readWhatIsThere(int fd) {
    QByteArray text;
    char buffer[4096];
    pollfd watch = {fd, POLLIN, 0};
    while (text.size() < MaxHeldLine && ::poll(&watch, 1, 0) > 0) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        text.append(buffer, got);
    }
    return text.trimmed();
}

} // namespace

bool PrivateSessionBus::start(QString *error) {
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty()) {
        *error = QStringLiteral("dbus-daemon is not in PATH (Debian package dbus-daemon)");
        return false;
    }
    int address[2] = {-1, -1};
    int standardError[2] = {-1, -1};
    if (::pipe2(address, O_CLOEXEC) != 0 || ::pipe2(standardError, O_CLOEXEC) != 0 ||
        ::pipe2(m_stopRelay, O_CLOEXEC) != 0) {
        *error = QStringLiteral("cannot make a pipe: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        for (int *fd : {&address[0], &address[1], &standardError[0], &standardError[1]})
            closeFd(*fd);
        return false;
    }

    // Everything the child needs is allocated before the fork.
    const QByteArray program = QFile::encodeName(daemon);
    std::vector<QByteArray> argumentTexts{"dbus-daemon", "--session",  "--nofork",
                                          "--nopidfile", "--nosyslog", "--print-address=3"};
    std::vector<QByteArray> environmentTexts = daemonEnvironment();
    std::vector<char *> arguments = pointersTo(argumentTexts);
    std::vector<char *> environment = pointersTo(environmentTexts);

    const pid_t parent = ::getpid();
    m_daemon = ::fork();
    if (m_daemon == 0)
        execDaemon(parent, address[1], standardError[1], program.constData(), arguments.data(),
                   environment.data());
    const int forkErrno = errno;
    closeFd(address[1]);
    closeFd(standardError[1]);
    m_standardError = standardError[0];
    if (m_daemon < 0) {
        closeFd(address[0]);
        *error = QStringLiteral("cannot start dbus-daemon: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(forkErrno)));
        return false;
    }

    const QByteArray busAddress = readAddress(address[0]);
    closeFd(address[0]);
    if (busAddress.isEmpty()) {
        stopDaemon();
        const QByteArray said = readWhatIsThere(m_standardError);
        *error = QStringLiteral("dbus-daemon did not start") +
                 (said.isEmpty() ? QString() : QStringLiteral(": ") + QString::fromLocal8Bit(said));
        return false;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", busAddress);
    qCDebug(lcClient) << "private session bus" << m_daemon << "at" << busAddress;
    m_relay = std::thread(&PrivateSessionBus::relayStandardError, this);
    return true;
}

PrivateSessionBus::~PrivateSessionBus() {
    stopDaemon();
    if (m_relay.joinable()) {
        writeAll(m_stopRelay[1], "x", 1);
        m_relay.join();
    }
    for (int *fd : {&m_standardError, &m_stopRelay[0], &m_stopRelay[1]})
        closeFd(*fd);
}

void PrivateSessionBus::stopDaemon() {
    if (m_daemon <= 0)
        return;
    ::kill(m_daemon, SIGTERM);
    const QDeadlineTimer deadline(StopTimeoutMs);
    while (::waitpid(m_daemon, nullptr, WNOHANG) == 0) {
        if (deadline.hasExpired()) {
            ::kill(m_daemon, SIGKILL);
            ::waitpid(m_daemon, nullptr, 0);
            break;
        }
        ::usleep(10000);
    }
    m_daemon = -1;
}

void PrivateSessionBus::relayStandardError() {
    QByteArray held;
    auto passOn = [&held](bool whole) {
        qsizetype end;
        while ((end = held.indexOf('\n')) >= 0 || (whole && !held.isEmpty()) || held.size() > MaxHeldLine) {
            const qsizetype size = end >= 0 ? end + 1 : held.size();
            if (!isBusDaemonLine(QByteArrayView(held).first(size)))
                writeAll(STDERR_FILENO, held.constData(), size);
            held.remove(0, size);
        }
    };
    QDeadlineTimer drain = QDeadlineTimer::Forever;
    for (;;) {
        pollfd watch[2] = {{m_standardError, POLLIN, 0}, {m_stopRelay[0], POLLIN, 0}};
        const bool draining = !drain.isForever();
        const int ready = ::poll(watch, draining ? 1 : 2, draining ? int(drain.remainingTime()) : -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        if (!draining && watch[1].revents != 0) {
            drain.setRemainingTime(RelayDrainMs);
            continue;
        }
        char buffer[4096];
        const ssize_t got = ::read(m_standardError, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break; // the daemon and everything it started have closed it
        held.append(buffer, got);
        passOn(false);
    }
    passOn(true);
}

} // namespace Orvex
