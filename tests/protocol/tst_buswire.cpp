#include "buswire.h"
#include "errortable.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServer>
#include <QDBusVariant>
#include <QTest>

#include <cmath>
#include <limits>
#include <optional>

using Orvex::Variant;

Q_DECLARE_METATYPE(Orvex::Variant)

namespace {

constexpr char ObjectPath[] = "/test";

// The receiving end: takes one variant, as WriteLog's AnyOther is taken.
class Receiver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.orvex.Test")
public Q_SLOTS:
    void Take(const QDBusVariant &value) { received = value.variant(); }

public:
    std::optional<QVariant> received;
};

template<typename... Members> QVariant structure(const Members &...members) {
    QDBusArgument argument;
    argument.beginStructure();
    (argument << ... << members);
    argument.endStructure();
    return QVariant::fromValue(argument);
}

// A tag and a value of any basic type, or of one in a variant.
template<typename Value> QVariant tagged(const QString &tag, const Value &value) {
    return structure(tag, value);
}

QVariant taggedVariant(const QString &tag, const QVariant &value) {
    return tagged(tag, QDBusVariant(value));
}

} // namespace

class TestBusWire : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void readsWhatBindingsSend_data();
    void readsWhatBindingsSend();
    void refuses_data();
    void refuses();
    void writesWhatItReads_data();
    void writesWhatItReads();

private:
    // The value as the other end of a connection receives it, demarshalled as the server's would be.
    QVariant crossed(const QVariant &value);

    std::optional<QDBusServer> m_server;
    std::optional<QDBusConnection> m_serverSide;
    std::optional<QDBusConnection> m_client;
    Receiver m_receiver;
};

void TestBusWire::initTestCase() {
    m_server.emplace(QStringLiteral("unix:tmpdir=/tmp"));
    connect(&*m_server, &QDBusServer::newConnection, this, [this](const QDBusConnection &peer) {
        m_serverSide.emplace(peer);
        m_serverSide->registerObject(QLatin1StringView(ObjectPath), &m_receiver,
                                     QDBusConnection::ExportAllSlots);
    });
    m_client.emplace(QDBusConnection::connectToPeer(m_server->address(), QStringLiteral("test")));
    QTRY_VERIFY(m_serverSide.has_value());
}

QVariant TestBusWire::crossed(const QVariant &value) {
    QDBusMessage message = QDBusMessage::createMethodCall(
        QString(), QLatin1StringView(ObjectPath), QStringLiteral("org.orvex.Test"), QStringLiteral("Take"));
    message << QVariant::fromValue(QDBusVariant(value));
    m_receiver.received.reset();
    if (!m_client->send(message))
        return {};
    if (!QTest::qWaitFor([this] { return m_receiver.received.has_value(); }, 10000))
        return {};
    return *m_receiver.received;
}

void TestBusWire::readsWhatBindingsSend_data() {
    QTest::addColumn<QVariant>("sent");
    QTest::addColumn<Variant>("read");

    const qint64 int64Max = std::numeric_limits<qint64>::max();
    const double infinity = std::numeric_limits<double>::infinity();
    QTest::newRow("uint16 above the int16 range")
        << QVariant::fromValue(ushort(40000)) << Variant::fromInt32(40000);
    QTest::newRow("uint16 at its largest") << QVariant::fromValue(ushort(65535)) << Variant::fromInt32(65535);
    QTest::newRow("int16 below zero") << QVariant::fromValue(short(-2)) << Variant::fromInt16(-2);
    QTest::newRow("uint64 at the signed largest")
        << QVariant::fromValue(qulonglong(int64Max)) << Variant::fromInt64(int64Max);
    QTest::newRow("uint32 at its largest")
        << QVariant::fromValue(uint(4294967295U)) << Variant::fromInt64(4294967295LL);
    QTest::newRow("single plus infinity") << taggedVariant(QStringLiteral("single"), infinity)
                                          << Variant::fromSingle(std::numeric_limits<float>::infinity());
    QTest::newRow("single minus infinity") << taggedVariant(QStringLiteral("single"), -infinity)
                                           << Variant::fromSingle(-std::numeric_limits<float>::infinity());

    // A tag and a text or number without the variant, as dbus-python sends a Struct of two items.
    QTest::newRow("date as (ss)") << tagged(QStringLiteral("date"), QStringLiteral("2010-01-19T15:07:45"))
                                  << Variant::fromDate(QDate(2010, 1, 19), QTime(15, 7, 45));
    QTest::newRow("time alone as (ss)") << tagged(QStringLiteral("date"), QStringLiteral("15:07:45"))
                                        << Variant::fromDate(QDate(), QTime(15, 7, 45));
    QTest::newRow("currency as (sx)")
        << tagged(QStringLiteral("currency"), qlonglong(125000)) << Variant::fromCurrency(125000);
    QTest::newRow("currency as (si)")
        << tagged(QStringLiteral("currency"), 125000) << Variant::fromCurrency(125000);
    QTest::newRow("currency as a whole (sd)")
        << tagged(QStringLiteral("currency"), -125000.0) << Variant::fromCurrency(-125000);
    QTest::newRow("currency in a variant of int32")
        << taggedVariant(QStringLiteral("currency"), 5) << Variant::fromCurrency(5);
    QTest::newRow("error as (sx)") << tagged(QStringLiteral("error"), qlonglong(7)) << Variant::fromError(7);
    QTest::newRow("error as (si) at the int32 least")
        << tagged(QStringLiteral("error"), std::numeric_limits<int>::min())
        << Variant::fromError(std::numeric_limits<int>::min());
    QTest::newRow("error as (sd)") << tagged(QStringLiteral("error"), 13.0) << Variant::fromError(13);
    QTest::newRow("single as (sd)") << tagged(QStringLiteral("single"), 0.5) << Variant::fromSingle(0.5F);
    QTest::newRow("single as (si)") << tagged(QStringLiteral("single"), 3) << Variant::fromSingle(3.0F);
    QTest::newRow("null as (ss)") << tagged(QStringLiteral("null"), QString()) << Variant::null();
    QTest::newRow("empty as (sb)") << tagged(QStringLiteral("empty"), true) << Variant();
}

void TestBusWire::readsWhatBindingsSend() {
    QFETCH(QVariant, sent);
    QFETCH(Variant, read);

    const QVariant received = crossed(sent);
    QVERIFY(received.isValid());
    Variant value;
    try {
        value = Orvex::BusWire::fromBus(received);
    } catch (const Orvex::AutomationError &error) {
        QFAIL(qPrintable(error.description()));
    }
    QCOMPARE(int(value.kind()), int(read.kind()));
    QVERIFY(value == read);
}

void TestBusWire::refuses_data() {
    QTest::addColumn<QVariant>("sent");
    QTest::addColumn<qint32>("error");

    const qint32 badType = Orvex::ErrorNumber::BadVariableType;
    const qint32 overflow = Orvex::ErrorNumber::Overflow;
    QTest::newRow("uint64 just beyond the signed range")
        << QVariant::fromValue(qulonglong(std::numeric_limits<qint64>::max()) + 1) << overflow;
    QTest::newRow("date as (sx)") << tagged(QStringLiteral("date"), qlonglong(20100119)) << badType;
    QTest::newRow("date text that is no date")
        << tagged(QStringLiteral("date"), QStringLiteral("yesterday")) << badType;
    QTest::newRow("currency as text")
        << tagged(QStringLiteral("currency"), QStringLiteral("12.5")) << badType;
    QTest::newRow("currency with a fraction of a ten-thousandth")
        << tagged(QStringLiteral("currency"), 0.5) << badType;
    QTest::newRow("currency of 2^63 as (sd)") << tagged(QStringLiteral("currency"), 0x1p63) << overflow;
    QTest::newRow("currency of not a number")
        << tagged(QStringLiteral("currency"), std::numeric_limits<double>::quiet_NaN()) << badType;
    QTest::newRow("error beyond 32 bits as (sx)")
        << tagged(QStringLiteral("error"), qlonglong(1) << 31) << overflow;
    QTest::newRow("error as text") << tagged(QStringLiteral("error"), QStringLiteral("7")) << badType;
    QTest::newRow("single beyond its range as (sd)") << tagged(QStringLiteral("single"), 3.5e38) << overflow;
    QTest::newRow("unknown tag as (ss)") << tagged(QStringLiteral("bogus"), QString()) << badType;
    QTest::newRow("tag in capitals as (sx)") << tagged(QStringLiteral("ERROR"), qlonglong(7)) << badType;
    QTest::newRow("number first as (xs)") << structure(qlonglong(7), QStringLiteral("error")) << badType;
    QTest::newRow("three members") << structure(QStringLiteral("error"), 7, 8) << badType;
    QTest::newRow("array for the value") << tagged(QStringLiteral("currency"), QList<int>{1}) << badType;
}

void TestBusWire::refuses() {
    QFETCH(QVariant, sent);
    QFETCH(qint32, error);

    const QVariant received = crossed(sent);
    QVERIFY(received.isValid());
    try {
        Orvex::BusWire::fromBus(received);
        QFAIL("read a value the type library does not define");
    } catch (const Orvex::AutomationError &failure) {
        QCOMPARE(failure.number(), error);
    }
}

void TestBusWire::writesWhatItReads_data() {
    QTest::addColumn<Variant>("value");

    QTest::newRow("single infinity") << Variant::fromSingle(std::numeric_limits<float>::infinity());
    QTest::newRow("largest int64") << Variant::fromInt64(std::numeric_limits<qint64>::max());
    QTest::newRow("currency at its least") << Variant::fromCurrency(std::numeric_limits<qint64>::min());
    QTest::newRow("error value") << Variant::fromError(-2147352568);
    QTest::newRow("time on the zero date") << Variant::fromDate(QDate(), QTime(0, 0, 1));
}

// What the server sends back in Invoke's result reads as the same value at the other end.
void TestBusWire::writesWhatItReads() {
    QFETCH(Variant, value);
    const QVariant received = crossed(Orvex::BusWire::toBus(value).variant());
    QVERIFY(received.isValid());
    QVERIFY(Orvex::BusWire::fromBus(received) == value);
}

QTEST_GUILESS_MAIN(TestBusWire)
#include "tst_buswire.moc"
