#include "sessionbuscheck.h"

#include "clientlogging.h"

#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QFile>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace Orvex {

namespace {

using State = SessionBusCheck::State;

// A socket descriptor closed with its holder.
class Socket {
public:
    explicit Socket(int fd)
        : m_fd(fd) {}
    ~Socket() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

QString systemError(int number) {
    return QString::fromLocal8Bit(std::strerror(number));
}

// One entry of a D-Bus address ("unix:path=/run/user/1000/bus,guid=..."): the socket it names, when it
// names one by path or in the abstract namespace; values are percent-escaped.
struct UnixSocketName {
    QByteArray name;
    bool abstract = false;
};

std::optional<UnixSocketName> unixSocketOf(QStringView entry) {
    if (!entry.startsWith(u"unix:"))
        return std::nullopt;
    for (const QStringView pair : entry.sliced(5).split(u',')) {
        const qsizetype equals = pair.indexOf(u'=');
        const QStringView key = pair.first(std::max<qsizetype>(equals, 0));
        const QByteArray value = QByteArray::fromPercentEncoding(pair.sliced(equals + 1).toLatin1());
        if (key == u"path")
            return UnixSocketName{value, false};
        if (key == u"abstract")
            return UnixSocketName{value, true};
        if (key == u"runtime" && value == "yes")
            return UnixSocketName{QFile::encodeName(qEnvironmentVariable("XDG_RUNTIME_DIR")) + "/bus", false};
    }
    return std::nullopt;
}

// D-Bus addresses escape every byte outside [-0-9A-Za-z_/.\*].
QString unixPathAddress(const QByteArray &path) {
    return QStringLiteral("unix:path=") + QString::fromLatin1(path.toPercentEncoding("/*", "~"));
}

// Waits for events on fd until deadline; false when it passed first.
bool waitFor(int fd, short events, const QDeadlineTimer &deadline) {
    for (;;) {
        pollfd watch = {fd, events, 0};
        const int ready = ::poll(&watch, 1, int(deadline.remainingTime()));
        if (ready < 0 && errno == EINTR)
            continue;
        return ready > 0;
    }
}

// A connection to socket, or -1 with check's state and problem saying why there is none.
int connectTo(const UnixSocketName &socket, const QDeadlineTimer &deadline, SessionBusCheck &check) {
    sockaddr_un name = {};
    name.sun_family = AF_UNIX;
    const qsizetype offset = socket.abstract ? 1 : 0;
    if (socket.name.isEmpty() || socket.name.size() + offset >= qsizetype(sizeof name.sun_path)) {
        check.state = State::Absent;
        return -1;
    }
    std::memcpy(name.sun_path + offset, socket.name.constData(), std::size_t(socket.name.size()));
    const auto length =
        socklen_t(offsetof(sockaddr_un, sun_path) + offset + socket.name.size() + (socket.abstract ? 0 : 1));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        check.problem = QStringLiteral("cannot make a socket: ") + systemError(errno);
        return -1;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&name), length) == 0)
        return fd;
    const int error = errno;
    int pending = 0;
    socklen_t size = sizeof pending;
    // Nothing listens there: a socket file left behind, or the address of a session that has ended.
    if (error == ENOENT || error == ECONNREFUSED || error == ENOTDIR)
        check.state = State::Absent;
    // EAGAIN: a full queue of connections waiting to be taken; the daemon is not taking them.
    else if (error == EAGAIN || (error == EINPROGRESS && !waitFor(fd, POLLOUT, deadline)))
        check.problem = QStringLiteral("it does not take connections");
    else if (error != EINPROGRESS)
        check.problem = QStringLiteral("cannot connect to it: ") + systemError(error);
    else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &size) == 0 && pending == 0)
        return fd;
    else
        check.problem = QStringLiteral("cannot connect to it: ") + systemError(pending);
    ::close(fd);
    return -1;
}

// What the daemon sends until enough(received) holds, at most a few KiB: nothing when the deadline passes
// first, what came until then when it ends the connection.
std::optional<QByteArray> receive(int fd, const QDeadlineTimer &deadline,
                                  bool (*enough)(const QByteArray &received)) {
    constexpr qsizetype MostAnswer = 4096;
    QByteArray received;
    while (!enough(received) && received.size() < MostAnswer) {
        if (!waitFor(fd, POLLIN, deadline))
            return std::nullopt;
        char buffer[MostAnswer];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            break;
        received.append(buffer, got);
    }
    return received;
}

void sendAll(int fd, const QByteArray &bytes) {
    // A few dozen bytes: one send takes them all, unless the connection is gone.
    ::send(fd, bytes.constData(), std::size_t(bytes.size()), MSG_NOSIGNAL);
}

// The bus's Hello call, marshalled little-endian, serial 1: path, interface, member and destination.
QByteArray helloMessage() {
    QByteArray fields;
    const auto field = [&fields](char code, char type, QByteArrayView value) {
        while (fields.size() % 8 != 0) // each field is a struct, aligned to 8 from the message's start
            fields.append('\0');
        const quint32 size = quint32(value.size());
        fields.append(code).append('\1').append(type).append('\0');
        fields.append(reinterpret_cast<const char *>(&size), 4).append(value).append('\0');
    };
    field(1, 'o', "/org/freedesktop/DBus");
    field(2, 's', "org.freedesktop.DBus");
    field(3, 's', "Hello");
    field(6, 's', "org.freedesktop.DBus");
    const quint32 fieldsSize = quint32(fields.size());
    // Byte order, METHOD_CALL, no flags, protocol 1, no body, serial 1, then the fields' array.
    QByteArray message("l\1\0\1\0\0\0\0\1\0\0\0", 12);
    message.append(reinterpret_cast<const char *>(&fieldsSize), 4).append(fields);
    while (message.size() % 8 != 0)
        message.append('\0');
    return message;
}

// Connects to socket and does what libdbus does first: authenticates as this process's uid (EXTERNAL) and
// says Hello; a bus that takes this account answers it (METHOD_RETURN). One that authenticates the
// account but does not allow it closes the connection instead.
SessionBusCheck greet(const UnixSocketName &socket, const QString &address, const QDeadlineTimer &deadline) {
    SessionBusCheck check{State::Unusable, address, {}};
    const Socket connection(connectTo(socket, deadline, check));
    if (connection.fd() < 0)
        return check;
    const int fd = connection.fd();
    // Closed early, the connection breaks the next send: what the daemon said is what counts.
    std::optional<QByteArray> answer;
    sendAll(fd, QByteArray("\0AUTH EXTERNAL ", 15) + QByteArray::number(::getuid()).toHex() + "\r\n");
    answer = receive(fd, deadline, [](const QByteArray &received) { return received.contains("\r\n"); });
    if (answer && answer->startsWith("OK ")) {
        sendAll(fd, "BEGIN\r\n" + helloMessage());
        answer = receive(fd, deadline, [](const QByteArray &received) { return received.size() >= 2; });
    }
    // The second byte of a message is its type, whatever its byte order.
    constexpr char MethodReturn = 2;
    if (!answer)
        check.problem = QStringLiteral("it has not answered within %1 s")
                            .arg(SessionBusCheck::AnswerTimeLimit.count() / 1000);
    else if (answer->size() >= 2 && answer->at(1) == MethodReturn)
        check.state = State::Answers;
    else
        check.problem =
            QStringLiteral("it does not take this account (%1)")
                .arg(answer->startsWith("REJECTED") ? QStringLiteral("its authentication refused it")
                                                    : QStringLiteral("it closed the connection"));
    return check;
}

// An address of another transport (tcp, launchd, ...), which libdbus alone knows how to reach.
SessionBusCheck connectThroughQt(const QString &address) {
    // A connection by address of its own: asking for the session bus by type would fix libdbus's choice
    // of address for the whole process.
    const QString name = QStringLiteral("orvex-postjob-probe");
    const bool connected = QDBusConnection::connectToBus(address, name).isConnected();
    QDBusConnection::disconnectFromBus(name);
    return {connected ? State::Answers : State::Absent, address, {}};
}

// Why a bus that libdbus would take is of no use, and what to do about it.
QString remedy(const QString &what, bool userBus) {
    return what +
           (userBus ? QStringLiteral(". Restart the user's bus (systemctl --user restart dbus) to post "
                                     "through the server")
                    : QStringLiteral(". Mend or unset DBUS_SESSION_BUS_ADDRESS: without it the tool uses the "
                                     "user's bus, or posts in its own process"));
}

SessionBusCheck checkAddress(const QString &address, const QDeadlineTimer &deadline, bool userBus) {
    // libdbus tries the entries in order and takes the first that it can connect to.
    for (const QStringView entry : QStringView(address).split(u';', Qt::SkipEmptyParts)) {
        const std::optional<UnixSocketName> socket = unixSocketOf(entry);
        SessionBusCheck check =
            socket ? greet(*socket, address, deadline) : connectThroughQt(entry.toString());
        if (check.state == State::Absent)
            continue;
        if (check.state == State::Unusable)
            check.problem =
                remedy(QStringLiteral("the session bus at %1 cannot be used: %2").arg(address, check.problem),
                       userBus);
        return check;
    }
    return {State::Absent, address, {}};
}

} // namespace

SessionBusCheck SessionBusCheck::ofEnvironment() {
    const QDeadlineTimer deadline(AnswerTimeLimit);
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (!address.isEmpty())
        return checkAddress(address, deadline, false);

    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        return {};
    const QByteArray socket = QFile::encodeName(runtime) + "/bus";
    struct stat status = {};
    if (::stat(socket.constData(), &status) != 0 || !S_ISSOCK(status.st_mode))
        return {};
    const QString userBus = unixPathAddress(socket);
    // Another account's bus would start the server as that account, and refuses this one anyway; checked
    // before connecting, so that nothing of ours ever talks to it.
    if (status.st_uid != ::getuid())
        return {State::Unusable, userBus,
                QStringLiteral("the user bus %1 belongs to another account (uid %2; this one is uid %3): "
                               "XDG_RUNTIME_DIR names another user's folder. Set XDG_RUNTIME_DIR to this "
                               "account's own (/run/user/%3) to post through the server")
                    .arg(QFile::decodeName(socket))
                    .arg(status.st_uid)
                    .arg(::getuid())};
    const SessionBusCheck check = checkAddress(userBus, deadline, true);
    qCDebug(lcClient) << "user bus at" << userBus << "state" << int(check.state);
    return check;
}

} // namespace Orvex
