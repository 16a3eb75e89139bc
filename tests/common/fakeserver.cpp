// A stand-in for the server where the real one cannot produce the case: one that ends before it runs any
// listing call, in one of several ways, as a server ending under its clients does. The test bus starts it
// through ORVEX_TEST_SERVER like the real one.
//
//   ORVEX_FAKE_MODE    ended: answers every listing call Ended; vanish: exits without answering;
//                      vanish-after-start, vanish-after-end: the same once the journal holds the call's
//                      start line, or its start and end lines
//   ORVEX_FAKE_RECORD  file that gets one line per call received: its member name
//   ORVEX_FAKE_JOURNAL the journal the objects name and the lines go to
//   ORVEX_FAKE_THEN    the server the bus starts after this one (ORVEX_TEST_SERVER from then on)

#include "automationerror.h"
#include "buswire.h"
#include "errortable.h"
#include "journalwriter.h"
#include "listingfields.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QDateTime>
#include <QFile>
#include <QTimer>

#include <cstdlib>
#include <unistd.h>

namespace {

const QString ServiceName = QStringLiteral("OrvexKelPostJob.PostJob");
const QString FactoryPath = QStringLiteral("/OrvexKelPostJob/PostJob");
const QString ObjectPath = QStringLiteral("/OrvexKelPostJob/PostJob/1");

QString setting(const char *name) {
    return qEnvironmentVariable(name);
}

void record(const QString &member) {
    QFile file(setting("ORVEX_FAKE_RECORD"));
    if (file.open(QIODevice::Append))
        file.write(member.toUtf8() + '\n');
}

void handOver(const QDBusConnection &bus) {
    const QString next = setting("ORVEX_FAKE_THEN");
    if (next.isEmpty())
        return;
    qDBusRegisterMetaType<QMap<QString, QString>>();
    QDBusMessage update = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("UpdateActivationEnvironment"));
    update << QVariant::fromValue(QMap<QString, QString>{{QStringLiteral("ORVEX_TEST_SERVER"), next}});
    QDBusConnection(bus).call(update);
}

// Ends the process at once, the way a server that dies holding a call does: no reply, no clean-up.
[[noreturn]] void vanish(const QDBusConnection &bus) {
    handOver(bus);
    std::_Exit(EXIT_SUCCESS);
}

// The journal in the folder ORVEX_FAKE_JOURNAL names, as a server keeps it.
Orvex::JournalStore &journal() {
    static Orvex::JournalStore store;
    if (!store.isOpen()) {
        QString why;
        store.open(setting("ORVEX_FAKE_JOURNAL"), Orvex::JournalStore::Access::Write, &why);
    }
    return store;
}

QString journalPath() {
    return journal().isOpen()
               ? journal().path()
               : setting("ORVEX_FAKE_JOURNAL") + u'/' + QLatin1StringView(Orvex::JournalStore::FileName);
}

void writeJournal(const QDBusMessage &call, bool withEnd) {
    // PostToBoard names the board first.
    const int action = call.member() == QLatin1StringView("PostToBoard") ? 1 : 0;
    Orvex::JournalPosting start;
    for (const auto &[name, value] : qdbus_cast<Orvex::ListingFields>(call.arguments().value(action + 1))) {
        if (name == QLatin1StringView("JobCode"))
            start.jobCode = value;
    }
    start.time = QDateTime::currentDateTime();
    start.processId = QCoreApplication::applicationPid();
    start.objectPath = ObjectPath;
    start.callSerial = qint64(Orvex::nextCallSerial());
    start.action = call.arguments().value(action).toString();
    QString why;
    const std::optional<qint64> row = journal().beginDurably(start, &why);
    if (withEnd && row) {
        const Orvex::PostingOutcome outcome{QStringLiteral("F"), 503,       0,
                                            QString(),           QString(), Orvex::DeliveryClass::Refused};
        journal().complete({*row, 0, start.time, outcome, 0, 1}, &why);
    }
}

class FakeServer final : public QDBusVirtualObject {
public:
    explicit FakeServer(const QDBusConnection &bus)
        : m_bus(bus) {}

    QString introspect(const QString &) const override { return QString(); }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &) override {
        const QString member = message.member();
        record(member);
        if (member == QLatin1StringView("CreateInstance")) {
            journal();
            return reply(message.createReply(QVariant::fromValue(QDBusObjectPath(ObjectPath))));
        }
        if (member == QLatin1StringView("Journal"))
            return reply(message.createReply({journalPath(), uint(QCoreApplication::applicationPid())}));
        // Its rows name no host, as a journal only one machine writes.
        if (member == QLatin1StringView("JournalHost"))
            return reply(message.createReply(QVariant(QString())));
        if (member == QLatin1StringView("Release")) {
            reply(message.createReply());
            end();
            return true;
        }
        const QString mode = setting("ORVEX_FAKE_MODE");
        if (mode == QLatin1StringView("ended")) {
            const Orvex::AutomationError error = Orvex::AutomationError::runtime(Orvex::ErrorNumber::Ended);
            reply(message.createErrorReply(Orvex::BusWire::errorName(error),
                                           Orvex::BusWire::errorMessage(error)));
            end();
            return true;
        }
        if (mode != QLatin1StringView("vanish"))
            writeJournal(message, mode == QLatin1StringView("vanish-after-end"));
        vanish(m_bus);
    }

private:
    bool reply(const QDBusMessage &answer) {
        m_bus.send(answer);
        return true;
    }

    void end() {
        m_bus.unregisterService(ServiceName);
        handOver(m_bus);
        // Once the bus answers this, it has every reply sent before.
        m_bus.call(QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping")));
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }

    QDBusConnection m_bus;
};

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    Orvex::registerListingFieldsType();
    QDBusConnection bus = QDBusConnection::sessionBus();
    FakeServer server(bus);
    if (!bus.registerVirtualObject(FactoryPath, &server, QDBusConnection::SubPath) ||
        !bus.registerService(ServiceName))
        return EXIT_FAILURE;
    return app.exec();
}
