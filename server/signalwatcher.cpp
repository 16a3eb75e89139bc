#include "signalwatcher.h"

#include "serverlogging.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Orvex {

namespace {

// One pair per process: the handler can reach nothing but a plain file descriptor.
int g_pipe[2] = {-1, -1};

void writeSignalNumber(int signalNumber) {
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (const int writeEnd = g_pipe[1]; writeEnd >= 0) {
        // A full pipe already holds a wake-up, so a failed write loses nothing.
        [[maybe_unused]] const ssize_t written = ::write(writeEnd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

SignalWatcher::SignalWatcher(std::initializer_list<int> signalNumbers, QObject *parent)
    : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_pipe) != 0) {
        qCWarning(lcServer) << "cannot watch signals:" << strerror(errno);
        return;
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalWatcher::readPipe);

    struct sigaction action = {};
    action.sa_handler = writeSignalNumber;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : signalNumbers)
        ::sigaction(signalNumber, &action, nullptr);
}

SignalWatcher::~SignalWatcher() {
    if (g_pipe[0] < 0)
        return;
    delete m_notifier;
    // Forget the descriptors before closing them, so a late signal cannot write into a reused one.
    const int readEnd = g_pipe[0];
    const int writeEnd = g_pipe[1];
    g_pipe[0] = g_pipe[1] = -1;
    ::close(readEnd);
    ::close(writeEnd);
}

void SignalWatcher::readPipe() {
    unsigned char byte = 0;
    while (::read(g_pipe[0], &byte, 1) == 1)
        Q_EMIT received(byte);
}

} // namespace Orvex
