#include "testcertificates.h"

#include <QFile>
#include <QProcess>

namespace {

constexpr int OpensslTimeoutMilliseconds = 30000;
const QString Authority = QStringLiteral("authority");
const QString LoopbackNames = QStringLiteral("DNS:localhost,IP:127.0.0.1");
const QString ClientName = QStringLiteral("client");
const QString StrangerName = QStringLiteral("stranger");

QString fileName(TestCertificates::Board board) {
    switch (board) {
    case TestCertificates::Board::Vouched:
        return QStringLiteral("vouched");
    case TestCertificates::Board::SelfSigned:
        return QStringLiteral("self-signed");
    case TestCertificates::Board::Expired:
        return QStringLiteral("expired");
    case TestCertificates::Board::WrongHost:
        return QStringLiteral("wrong-host");
    }
    return {};
}

// EC keys: made at once, where RSA keys take noticeable time on a busy machine.
QStringList newKey(const QString &keyFile) {
    return {QStringLiteral("-newkey"),
            QStringLiteral("ec"),
            QStringLiteral("-pkeyopt"),
            QStringLiteral("ec_paramgen_curve:P-256"),
            QStringLiteral("-nodes"),
            QStringLiteral("-keyout"),
            keyFile};
}

QStringList extensionOptions(const QStringList &extensions) {
    QStringList options;
    for (const QString &extension : extensions)
        options << QStringLiteral("-addext") << extension;
    return options;
}

} // namespace

bool TestCertificates::create() {
    if (!m_directory.isValid()) {
        m_error = QStringLiteral("no temporary folder: %1").arg(m_directory.errorString());
        return false;
    }
    // A configuration of our own, so the machine's openssl.cnf adds no extensions.
    QFile configuration(path(QStringLiteral("openssl"), ".cnf"));
    if (!configuration.open(QIODevice::WriteOnly) ||
        configuration.write("[req]\ndistinguished_name = dn\n[dn]\n") < 0) {
        m_error = QStringLiteral("cannot write %1").arg(configuration.fileName());
        return false;
    }
    configuration.close();

    const QString loopback = QStringLiteral("subjectAltName=") + LoopbackNames;
    return makeSelfSigned(Authority, {QStringLiteral("basicConstraints=critical,CA:TRUE"),
                                      QStringLiteral("keyUsage=critical,keyCertSign")}) &&
           makeSelfSigned(fileName(Board::SelfSigned), {loopback}) &&
           makeIssued(fileName(Board::Vouched), LoopbackNames, 7) &&
           // A validity that ends a day before it begins: expired from the start.
           makeIssued(fileName(Board::Expired), LoopbackNames, -1) &&
           makeIssued(fileName(Board::WrongHost), QStringLiteral("DNS:board.other.example"), 7) &&
           makeIssued(ClientName, QStringLiteral("DNS:client.example"), 7) &&
           makeSelfSigned(StrangerName, {QStringLiteral("subjectAltName=DNS:client.example")});
}

QString TestCertificates::authorityFile() const {
    return path(Authority, ".pem");
}

QString TestCertificates::unrelatedAuthorityFile() const {
    return path(fileName(Board::SelfSigned), ".pem");
}

QStringList TestCertificates::boardArguments(Board board) const {
    return {QStringLiteral("--tls-cert"), path(fileName(board), ".pem"), QStringLiteral("--tls-key"),
            path(fileName(board), ".key")};
}

QStringList TestCertificates::clientAuthorityArguments() const {
    return {QStringLiteral("--tls-client-ca"), authorityFile()};
}

QString TestCertificates::clientCertificateFile() const {
    return path(ClientName, ".pem");
}

QString TestCertificates::clientKeyFile() const {
    return path(ClientName, ".key");
}

QString TestCertificates::strangerCertificateFile() const {
    return path(StrangerName, ".pem");
}

QString TestCertificates::strangerKeyFile() const {
    return path(StrangerName, ".key");
}

bool TestCertificates::makeSelfSigned(const QString &name, const QStringList &extensions) {
    return openssl(QStringList{QStringLiteral("req"), QStringLiteral("-config"),
                               path(QStringLiteral("openssl"), ".cnf"), QStringLiteral("-x509"),
                               QStringLiteral("-days"), QStringLiteral("7"), QStringLiteral("-subj"),
                               QStringLiteral("/CN=") + name, QStringLiteral("-out"), path(name, ".pem")} +
                   newKey(path(name, ".key")) + extensionOptions(extensions));
}

bool TestCertificates::makeIssued(const QString &name, const QString &subjectAltName, int days) {
    // `req` refuses a validity below one day, so the authority signs with `x509`, which does not.
    const QString request = path(name, ".csr");
    return openssl(QStringList{QStringLiteral("req"), QStringLiteral("-config"),
                               path(QStringLiteral("openssl"), ".cnf"), QStringLiteral("-new"),
                               QStringLiteral("-subj"), QStringLiteral("/CN=") + name, QStringLiteral("-out"),
                               request} +
                   newKey(path(name, ".key")) +
                   extensionOptions({QStringLiteral("subjectAltName=") + subjectAltName})) &&
           openssl({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), request,
                    QStringLiteral("-CA"), authorityFile(), QStringLiteral("-CAkey"), path(Authority, ".key"),
                    QStringLiteral("-copy_extensions"), QStringLiteral("copy"), QStringLiteral("-days"),
                    QString::number(days), QStringLiteral("-out"), path(name, ".pem")});
}

bool TestCertificates::openssl(const QStringList &arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForFinished(OpensslTimeoutMilliseconds) ||
        process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        m_error = QStringLiteral("openssl %1 failed (%2): %3")
                      .arg(arguments.join(QLatin1Char(' ')), process.errorString(),
                           QString::fromLocal8Bit(process.readAll()));
        return false;
    }
    return true;
}

QString TestCertificates::path(const QString &name, const char *suffix) const {
    return m_directory.filePath(name + QLatin1StringView(suffix));
}
