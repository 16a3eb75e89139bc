#include "callqueue.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusPendingCall>
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
    std::function<void()> duringFirst;
    std::function<void()> afterFirst;
    QStringList ran;
    int arrived = 0;

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

private:
    Orvex::CallQueue m_queue;
};

} // namespace

class TestCallQueue : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void callsRunInArrivalOrder();
};

void TestCallQueue::callsRunInArrivalOrder() {
    QDBusConnection server = QDBusConnection::sessionBus();
    QueuedObject object;
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
}

QTEST_GUILESS_MAIN(TestCallQueue)
#include "tst_callqueue.moc"
