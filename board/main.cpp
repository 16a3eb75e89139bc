#include "boardfault.h"
#include "boardtls.h"
#include "jobboard.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <optional>
#include <sys/signalfd.h>
#include <unistd.h>
#include <utility>

namespace {

// Turns SIGTERM, SIGINT and SIGHUP into a normal end of the event loop, so connections and the record
// file are closed in order (and leak checkers see a regular exit).
class StopSignals {
public:
    StopSignals() {
        sigemptyset(&m_signals);
        for (int signal : {SIGTERM, SIGINT, SIGHUP})
            sigaddset(&m_signals, signal);
        // Blocked before Qt starts any thread, so every thread inherits the mask.
        sigprocmask(SIG_BLOCK, &m_signals, nullptr);
        m_descriptor = signalfd(-1, &m_signals, SFD_CLOEXEC | SFD_NONBLOCK);
    }
    ~StopSignals() {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
    }
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    int descriptor() const { return m_descriptor; }

private:
    sigset_t m_signals;
    int m_descriptor = -1;
};

// A count or a number of seconds for an option; nullopt when it is not a number from 0 to 86400.
std::optional<int> nonNegative(const QString &text) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 0 || value > 86400)
        return std::nullopt;
    return value;
}

} // namespace

int main(int argc, char *argv[]) {
    const StopSignals stopSignals;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvex-board"));
    // A client that goes away mid-reply must not take the board with it.
    std::signal(SIGPIPE, SIG_IGN);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Reference job board on 127.0.0.1. Takes POST /cgi-bin/importJobs_xml.cgi in origin "
                       "and proxy form, answers success=1&jobid=N to Add and success=1 to other actions, "
                       "success=0&error=... to a document it cannot read. GET /postings lists what it "
                       "received as JSON.\n\nA listing field BoardFault, or --fault, picks a fault:\n") +
        Orvex::BoardFault::catalogue());
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Port to listen on; 0 picks a free one."),
                                        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption firstIdOption(QStringLiteral("first-id"), QStringLiteral("The first job id."),
                                           QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption faultOption(QStringLiteral("fault"),
                                         QStringLiteral("Fault for every posting that names none."),
                                         QStringLiteral("NAME"));
    const QCommandLineOption recordOption(QStringLiteral("record"),
                                          QStringLiteral("Append every received posting as a JSON line."),
                                          QStringLiteral("FILE"));
    const QCommandLineOption certificateOption(
        QStringLiteral("tls-cert"),
        QStringLiteral("Serve HTTPS with this PEM certificate (then its intermediates); needs --tls-key."),
        QStringLiteral("FILE"));
    const QCommandLineOption keyOption(QStringLiteral("tls-key"),
                                       QStringLiteral("The unencrypted PEM private key of --tls-cert."),
                                       QStringLiteral("FILE"));
    const QCommandLineOption clientAuthorityOption(
        QStringLiteral("tls-client-ca"),
        QStringLiteral("Take only clients with a certificate issued by an authority in this PEM file."),
        QStringLiteral("FILE"));
    const QCommandLineOption closeOption(QStringLiteral("close-connections"),
                                         QStringLiteral("Close the connection after every reply."));
    const QCommandLineOption idleOption(QStringLiteral("idle-timeout"),
                                        QStringLiteral("Close a connection idle for N seconds, unannounced."),
                                        QStringLiteral("N"));
    const QCommandLineOption announceOption(
        QStringLiteral("announce-keep-alive"),
        QStringLiteral("Send \"Keep-Alive: timeout=N\" with every reply that keeps the connection."),
        QStringLiteral("N"));
    const QCommandLineOption dropOption(
        QStringLiteral("drop-after"),
        QStringLiteral("After N replies on a connection, take the next request and close unanswered."),
        QStringLiteral("N"));
    parser.addOptions({portOption, firstIdOption, faultOption, recordOption, certificateOption, keyOption,
                       clientAuthorityOption, closeOption, idleOption, announceOption, dropOption});
    parser.process(app);

    QTextStream err(stderr);
    Orvex::JobBoard::Options options;
    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535) {
        err << "orvex-board: bad port " << parser.value(portOption) << Qt::endl;
        return 2;
    }
    options.port = quint16(port);
    options.firstId = parser.value(firstIdOption).toLongLong(&ok);
    if (!ok) {
        err << "orvex-board: bad first id " << parser.value(firstIdOption) << Qt::endl;
        return 2;
    }
    if (parser.isSet(faultOption)) {
        const std::optional<Orvex::BoardFault> fault = Orvex::BoardFault::parse(parser.value(faultOption));
        if (!fault) {
            err << "orvex-board: unknown fault " << parser.value(faultOption) << Qt::endl;
            return 2;
        }
        options.fault = *fault;
    }
    options.recordFile = parser.value(recordOption);
    options.connections.keepAlive = !parser.isSet(closeOption);
    for (const auto &[option, setting] :
         {std::pair{&idleOption, &options.connections.idleTimeoutSeconds},
          std::pair{&announceOption, &options.connections.announcedTimeoutSeconds},
          std::pair{&dropOption, &options.connections.dropAfterReplies}}) {
        if (!parser.isSet(*option))
            continue;
        *setting = nonNegative(parser.value(*option));
        if (!*setting) {
            err << "orvex-board: bad --" << option->names().first() << ' ' << parser.value(*option)
                << Qt::endl;
            return 2;
        }
    }
    if (parser.isSet(certificateOption) != parser.isSet(keyOption)) {
        err << "orvex-board: --tls-cert and --tls-key go together" << Qt::endl;
        return 2;
    }
    if (parser.isSet(clientAuthorityOption) && !parser.isSet(certificateOption)) {
        err << "orvex-board: --tls-client-ca needs --tls-cert and --tls-key" << Qt::endl;
        return 2;
    }
    if (parser.isSet(certificateOption)) {
        QString error;
        options.tls =
            Orvex::BoardTls::serverConfiguration(parser.value(certificateOption), parser.value(keyOption),
                                                 parser.value(clientAuthorityOption), &error);
        if (!options.tls) {
            err << "orvex-board: " << error << Qt::endl;
            return 2;
        }
    }

    Orvex::JobBoard board(options);
    QString error;
    if (!board.listen(&error)) {
        err << "orvex-board: " << error << Qt::endl;
        return 1;
    }
    QSocketNotifier stopNotifier(stopSignals.descriptor(), QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);

    // Whoever started the board reads the port from this line.
    QTextStream(stdout) << "listening on 127.0.0.1:" << board.port() << Qt::endl;
    return app.exec();
}
