#include "callqueue.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QScopeGuard>
#include <QTest>

namespace {

const QString ServiceName = QStringLiteral("org.orvex.CallQueueTest");
const QString ObjectPath = QStringLiteral("/Queue");

// Serves Run(name) through a call queue and records the order in which the calls ran. The first call it
// serves can hold the queue until a condition holds, and can do something after its reply went out.
class QueuedObject final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.orvex.CallQueueTest")

public:
    explicit QueuedObject(Orvex::CallQueue &queue)
        : m_queue(queue) {}

    std::function<void()> duringFirst;
    std::function<void()> afterFirst;
    QStringList ran;
    int arrived = 0;
    // The answer of the call that Hold left open.
    Orvex::CallQueue::Answer held;

public Q_SLOTS:
    QString Run(const QString &name) {
        const bool first = arrived++ == 0;
        m_queue.serve(
            *this,
            [=, this] {
                ran.append(name);
                if (first && duringFirst)
                    duringFirst();
                return QVariantList{name};
            },
            [=, this] {
                if (first && afterFirst)
                    afterFirst();
            });
        return {};
    }
    // Answered only once the test calls held.
    QString Hold(const QString &name) {
        ++arrived;
        m_queue.serveLater(*this, [=, this](const Orvex::CallQueue::Answer &answer) {
            ran.append(name);
            held = answer;
        });
        return {};
    }

private:
    Orvex::CallQueue &m_queue;
};

QDBusPendingCall callOn(QDBusConnection &client, const QString &path, const QString &member,
                        const QString &name) {
    QDBusMessage message =
        QDBusMessage::createMethodCall(ServiceName, path, QStringLiteral("org.orvex.CallQueueTest"), member);
    message << name;
    return client.asyncCall(message);
}

} // namespace

class TestCallQueue : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void callsRunInArrivalOrder();
    void aCallAnsweredLaterHoldsItsOwnObjectOnly();
};

void TestCallQueue::callsRunInArrivalOrder() {
    QDBusConnection server = QDBusConnection::sessionBus();
    Orvex::CallQueue queue;
    QueuedObject object(queue);
    QVERIFY(server.registerObject(ObjectPath, &object, QDBusConnection::ExportAllSlots));
    QVERIFY(server.registerService(ServiceName));
    QDBusConnection client =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("client"));
    QVERIFY(client.isConnected());
    QList<QDBusPendingCall> calls;
    const auto send = [&](const QString &name) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            ServiceName, ObjectPath, QStringLiteral("org.orvex.CallQueueTest"), QStringLiteral("Run"));
        message << name;
        calls.append(client.asyncCall(message));
    };

    // B and C arrive while A runs and wait. D arrives once A is done but before the queue has moved on:
    // it must still wait behind B and C.
    object.duringFirst = [&] {
        send(QStringLiteral("B"));
        send(QStringLiteral("C"));
        QVERIFY(QTest::qWaitFor([&] { return object.arrived == 3; }, 10000));
    };
    object.afterFirst = [&] {
        send(QStringLiteral("D"));
        QVERIFY(QTest::qWaitFor([&] { return object.arrived == 4; }, 10000));
    };
    send(QStringLiteral("A"));
    QTRY_COMPARE_WITH_TIMEOUT(object.ran.size(), 4, 20000);
    QCOMPARE(object.ran, (QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"),
                                      QStringLiteral("D")}));
    for (QDBusPendingCall &call : calls) {
        call.waitForFinished();
        QVERIFY(!call.isError());
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    server.unregisterService(ServiceName);
}

// An object's call that runs on after its slot returned (a posting) holds that object's later calls, and
// no other object's.
void TestCallQueue::aCallAnsweredLaterHoldsItsOwnObjectOnly() {
    QDBusConnection server = QDBusConnection::sessionBus();
    Orvex::CallQueue queue;
    QueuedObject first(queue);
    QueuedObject second(queue);
    QVERIFY(server.registerObject(QStringLiteral("/First"), &first, QDBusConnection::ExportAllSlots));
    QVERIFY(server.registerObject(QStringLiteral("/Second"), &second, QDBusConnection::ExportAllSlots));
    QVERIFY(server.registerService(ServiceName));
    QDBusConnection client =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("client"));
    const auto disconnect = qScopeGuard([] { QDBusConnection::disconnectFromBus(QStringLiteral("client")); });

    QDBusPendingCall hold =
        callOn(client, QStringLiteral("/First"), QStringLiteral("Hold"), QStringLiteral("H"));
    QTRY_VERIFY(first.held);
    QDBusPendingCall behind =
        callOn(client, QStringLiteral("/First"), QStringLiteral("Run"), QStringLiteral("A"));
    QDBusPendingCall other =
        callOn(client, QStringLiteral("/Second"), QStringLiteral("Run"), QStringLiteral("B"));
    // Served on this thread: its loop must run for the calls to be answered.
    QTRY_VERIFY(other.isFinished());
    QVERIFY(!other.isError());
    QTRY_COMPARE(first.arrived, 2);
    QCOMPARE(first.ran, QStringList{QStringLiteral("H")});
    QVERIFY(!hold.isFinished());

    first.held([] { return QVariantList{QStringLiteral("held")}; });
    QTRY_VERIFY(hold.isFinished());
    QCOMPARE(hold.reply().arguments().value(0).toString(), QStringLiteral("held"));
    QTRY_VERIFY(behind.isFinished());
    QVERIFY(!behind.isError());
    QCOMPARE(first.ran, (QStringList{QStringLiteral("H"), QStringLiteral("A")}));
    server.unregisterService(ServiceName);
}

QTEST_GUILESS_MAIN(TestCallQueue)
#include "tst_callqueue.moc"
