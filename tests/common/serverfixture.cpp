#include "serverfixture.h"

#include "journalstore.h"
#include "processstate.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTest>

#include <csignal>
#include <unistd.h>

namespace {

bool writeFile(const QString &path, const QByteArray &content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

bool updateActivationEnvironment(const QMap<QString, QString> &environment, QString *error) {
    qDBusRegisterMetaType<QMap<QString, QString>>();
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("UpdateActivationEnvironment"));
    message << QVariant::fromValue(environment);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(message);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    if (error)
        *error = reply.errorMessage();
    return false;
}

} // namespace

QString placeServerIn(const QString &folder) {
    const QString server = QDir(folder).filePath(QStringLiteral("OrvexKelPostJob"));
    // The server keeps its files beside it only in a folder no one else may write to, whatever the umask.
    if (!QDir().mkpath(folder) ||
        !QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                           QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                           QFile::ExeOther))
        return QString();
    QFile::remove(server);
    const QByteArray source = QFile::encodeName(QStringLiteral(ORVEX_SERVER_EXECUTABLE));
    if (::link(source.constData(), QFile::encodeName(server).constData()) == 0 ||
        QFile::copy(QStringLiteral(ORVEX_SERVER_EXECUTABLE), server))
        return server;
    return QString();
}

ServerFixture::ServerFixture() = default;

bool ServerFixture::prepare(const QString &proxyUrl, QString *error) {
    const auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (!m_folder.isValid())
        return fail(m_folder.errorString());
    const QString server = placeServerIn(programFolder());
    if (server.isEmpty())
        return fail(QStringLiteral("cannot place the server in ") + programFolder());
    // The bus, not the test, starts the server, so it inherits the bus's activation environment. A closed
    // loopback port when no board is wanted, so a posting fails at once instead of resolving names.
    const QString proxy = proxyUrl.isEmpty() ? QStringLiteral("http://127.0.0.1:9") : proxyUrl;
    const QMap<QString, QString> environment{
        {QStringLiteral("ORVEX_TEST_SERVER"), server},
        {QStringLiteral("XDG_STATE_HOME"), m_folder.filePath(QStringLiteral("state"))},
        {QStringLiteral("XDG_CONFIG_HOME"), m_folder.filePath(QStringLiteral("config"))},
        {QStringLiteral("http_proxy"), proxy},
        {QStringLiteral("no_proxy"), QString()},
        // The server's options on the service file's Exec= line: none unless a test gives some.
        {QStringLiteral("ORVEX_TEST_SERVER_OPTIONS"), QString()},
    };
    return updateActivationEnvironment(environment, error);
}

bool ServerFixture::setActivationVariable(const QString &name, const QString &value, QString *error) {
    return updateActivationEnvironment({{name, value}}, error);
}

bool ServerFixture::startWithoutProgramFolder(QString *error) {
    const QDBusReply<void> started =
        QDBusConnection::sessionBus().interface()->startService(QLatin1StringView(ServiceName));
    if (!started.isValid()) {
        if (error)
            *error = started.error().message();
        return false;
    }
    return QDir(programFolder()).removeRecursively();
}

QString ServerFixture::userFilesFolder() const {
    return m_folder.filePath(QStringLiteral("state/OrvexKelPostJob"));
}

QString ServerFixture::filesFolder() const {
    return QFileInfo::exists(programFolder()) ? programFolder() : userFilesFolder();
}

bool ServerFixture::writeIni(const QByteArray &content) const {
    return writeFile(QDir(programFolder()).filePath(QStringLiteral("OrvexKelPostJob.ini")), content);
}

bool ServerFixture::writeUserIni(const QByteArray &content) const {
    return writeFile(m_folder.filePath(QStringLiteral("config/OrvexKelPostJob/OrvexKelPostJob.ini")),
                     content);
}

QStringList ServerFixture::logRecords() const {
    QStringList records;
    const QDir folder(filesFolder());
    for (const QString &name : folder.entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name)) {
        QFile file(folder.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (!line.trimmed().isEmpty())
                records.append(QString::fromUtf8(line).remove(u'\r'));
        }
    }
    return records;
}

QStringList ServerFixture::debugCopies() const {
    return QDir(filesFolder()).entryList({QStringLiteral("*.xml")}, QDir::Files);
}

QByteArray ServerFixture::logText() const {
    QByteArray text;
    const QDir folder(filesFolder());
    for (const QString &name : folder.entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name)) {
        QFile file(folder.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            text += file.readAll();
    }
    return text;
}

QList<Orvex::JournalPosting> ServerFixture::journalEntries() const {
    QList<Orvex::JournalPosting> entries;
    Orvex::JournalStore journal;
    QString why;
    if (journal.open(filesFolder(), Orvex::JournalStore::Access::Read, &why))
        journal.read(
            {}, [&](Orvex::JournalPosting &&row) { return entries.append(std::move(row)), true; }, &why);
    return entries;
}

QDBusMessage ServerFixture::call(const QString &path, const QString &interface, const QString &member,
                                 const QVariantList &arguments, bool autoStart) {
    QDBusMessage message =
        QDBusMessage::createMethodCall(QLatin1StringView(ServiceName), path, interface, member);
    message.setArguments(arguments);
    message.setAutoStartService(autoStart);
    return QDBusConnection::sessionBus().call(message, QDBus::Block, 60000);
}

QString ServerFixture::createInstance(QDBusMessage *error) {
    const QDBusMessage reply =
        call(QLatin1StringView(FactoryPath), QStringLiteral("OrvexKelPostJob.ClassFactory"),
             QStringLiteral("CreateInstance"));
    if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1)
        return qvariant_cast<QDBusObjectPath>(reply.arguments().first()).path();
    if (error)
        *error = reply;
    return QString();
}

bool ServerFixture::isRunning() {
    return QDBusConnection::sessionBus()
        .interface()
        ->isServiceRegistered(QLatin1StringView(ServiceName))
        .value();
}

uint ServerFixture::serverPid() {
    return QDBusConnection::sessionBus().interface()->servicePid(QLatin1StringView(ServiceName)).value();
}

bool ServerFixture::signalServer(int signal) {
    const uint pid = serverPid();
    return pid > 0 && ::kill(pid_t(pid), signal) == 0;
}

bool ServerFixture::waitUntilGone(int timeoutMs) {
    return QTest::qWaitFor([] { return !isRunning(); }, timeoutMs);
}

bool ServerFixture::endServer() {
    if (!isRunning())
        return true;
    const uint pid = serverPid();
    const QString path = createInstance();
    if (!path.isEmpty())
        call(path, QStringLiteral("OrvexKelPostJob.IUnknown"), QStringLiteral("Release"), {}, false);
    else if (pid != 0) // creation fails with a bad INI file: close it as the system would
        ::kill(pid_t(pid), SIGTERM);
    if (!waitUntilGone())
        return false;
    // The name goes first and the process a moment later, still writing its journal: the row's folders
    // removed in between would make it fail as a journal unlinked while open.
    return pid == 0 || QTest::qWaitFor([pid] { return Orvex::hasProcessEnded(pid); }, 15000);
}

bool ServerFixture::endLeftover() {
    if (!isRunning())
        return true;
    if (const uint pid = serverPid())
        ::kill(pid_t(pid), SIGTERM);
    waitUntilGone();
    return false;
}

QString withoutTimeStamp(const QString &record) {
    // The time stamp is the first quoted field and holds no quote or comma of its own.
    const qsizetype end = record.indexOf(QLatin1StringView("\","));
    return end < 0 ? record : record.mid(end + 2);
}
