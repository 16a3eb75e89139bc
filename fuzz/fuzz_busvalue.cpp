// AnyOther as the server reads it: a value built from the input crosses a real D-Bus connection (a peer
// connection inside this process), arrives demarshalled as the server's would, and is read with
// BusWire::fromBus. What reads is written back with toBus, crosses again, and must read the same.

#include "fuzzsupport.h"

#include "automationerror.h"
#include "buswire.h"
#include "errortable.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusServer>
#include <QDBusSignature>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QStringList>
#include <QVariantMap>

#include <fuzzer/FuzzedDataProvider.h>

#include <bit>
#include <cmath>
#include <optional>

namespace {

using Orvex::Variant;
using Orvex::Fuzz::require;

constexpr char ObjectPath[] = "/fuzz";
constexpr char Interface[] = "org.orvex.Fuzz";
constexpr int MaxDepth = 4;

// The receiving end: takes one variant, as WriteLog's AnyOther is taken.
class Receiver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.orvex.Fuzz")
public Q_SLOTS:
    void Take(const QDBusVariant &value) { received = value.variant(); }

public:
    std::optional<QVariant> received;
};

// D-Bus strings end at a NUL; the bus library, not this code, cuts them there.
QString text(FuzzedDataProvider &input, size_t maxLength = 40) {
    return QString::fromUtf8(input.ConsumeRandomLengthString(maxLength)).remove(QChar(u'\0'));
}

QString dateLike(FuzzedDataProvider &input) {
    // One number at a time: the order in which the input is read must not depend on the compiler.
    QStringList numbers;
    for (const int width : {4, 2, 2, 2, 2, 2}) {
        const int number = input.ConsumeIntegralInRange<int>(0, width == 4 ? 10000 : 99);
        numbers.append(QStringLiteral("%1").arg(number, width, 10, QLatin1Char('0')));
    }
    const QString day = numbers.mid(0, 3).join(u'-');
    const QString time = numbers.mid(3).join(u':');
    switch (input.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        return day + u'T' + time;
    case 1:
        return day;
    case 2:
        return time;
    default:
        return text(input);
    }
}

QVariant anyValue(FuzzedDataProvider &input, int depth);

QVariant taggedValue(FuzzedDataProvider &input, int depth) {
    static const char *const tags[] = {"empty", "null", "date", "error", "currency", "single", "Empty", ""};
    const int pick = input.ConsumeIntegralInRange<int>(0, std::size(tags));
    const QString tag = pick < int(std::size(tags)) ? QString::fromLatin1(tags[pick]) : text(input);
    QVariant inner;
    if (tag == u"date" && input.ConsumeBool())
        inner = dateLike(input);
    else
        inner = anyValue(input, depth + 1);
    QDBusArgument structure;
    structure.beginStructure();
    structure << tag;
    // The value in a variant, (sv), or directly, as bindings send a pair of a tag and a basic value.
    if (input.ConsumeBool())
        structure << QDBusVariant(inner);
    else
        structure.appendVariant(inner);
    structure.endStructure();
    return QVariant::fromValue(structure);
}

// A structure of other members than (sv).
QVariant otherStructure(FuzzedDataProvider &input, int depth) {
    QDBusArgument structure;
    structure.beginStructure();
    const int members = input.ConsumeIntegralInRange<int>(1, 3);
    for (int i = 0; i < members; ++i) {
        switch (input.ConsumeIntegralInRange<int>(0, 2)) {
        case 0:
            structure << text(input);
            break;
        case 1:
            structure << input.ConsumeIntegral<int>();
            break;
        default:
            structure << QDBusVariant(anyValue(input, depth + 1));
            break;
        }
    }
    structure.endStructure();
    return QVariant::fromValue(structure);
}

QVariant anyValue(FuzzedDataProvider &input, int depth) {
    const int choice = input.ConsumeIntegralInRange<int>(0, depth >= MaxDepth ? 9 : 17);
    switch (choice) {
    case 0:
        return text(input);
    case 1:
        return input.ConsumeBool();
    case 2:
        return QVariant::fromValue(input.ConsumeIntegral<uchar>());
    case 3:
        return QVariant::fromValue(input.ConsumeIntegral<short>());
    case 4:
        return QVariant::fromValue(input.ConsumeIntegral<ushort>());
    case 5:
        return input.ConsumeIntegral<int>();
    case 6:
        return input.ConsumeIntegral<uint>();
    case 7:
        return input.ConsumeIntegral<qlonglong>();
    case 8:
        return input.ConsumeIntegral<qulonglong>();
    case 9:
        return std::bit_cast<double>(input.ConsumeIntegral<quint64>());
    case 10:
        return QVariant::fromValue(
            QDBusObjectPath(QStringLiteral("/a/b%1").arg(input.ConsumeIntegral<uint>())));
    case 11:
        return QVariant::fromValue(QDBusSignature(QStringLiteral("a{sv}")));
    case 12:
        return QVariant::fromValue(QDBusVariant(anyValue(input, depth + 1)));
    case 13:
    case 14:
        return taggedValue(input, depth);
    case 15:
        return otherStructure(input, depth);
    case 16:
        return QStringList{text(input), text(input)};
    default: {
        const QString key = text(input);
        return QVariantMap{{key, anyValue(input, depth + 1)}};
    }
    }
}

bool same(const Variant &a, const Variant &b) {
    if (a.kind() == Variant::Kind::Double && b.kind() == Variant::Kind::Double)
        return std::isnan(a.get<double>()) ? std::isnan(b.get<double>()) : a == b;
    if (a.kind() == Variant::Kind::Single && b.kind() == Variant::Kind::Single)
        return std::isnan(a.get<float>()) ? std::isnan(b.get<float>()) : a == b;
    return a == b;
}

class Loopback {
public:
    Loopback()
        : m_server(QStringLiteral("unix:tmpdir=/tmp")) {
        QObject::connect(&m_server, &QDBusServer::newConnection, &m_server,
                         [this](const QDBusConnection &peer) {
                             m_serverSide.emplace(peer);
                             m_serverSide->registerObject(QLatin1StringView(ObjectPath), &m_receiver,
                                                          QDBusConnection::ExportAllSlots);
                         });
        m_client.emplace(QDBusConnection::connectToPeer(m_server.address(), QStringLiteral("fuzz")));
        const QDeadlineTimer deadline(10000);
        while (!m_serverSide && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        require(m_client->isConnected() && m_serverSide.has_value(), "a peer connection to ourselves");
    }

    // The value as the other end of a connection receives it; nothing when it cannot be sent.
    std::optional<QVariant> cross(const QVariant &value) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            QString(), QLatin1StringView(ObjectPath), QLatin1StringView(Interface), QStringLiteral("Take"));
        message << QVariant::fromValue(QDBusVariant(value));
        message.setAutoStartService(false);
        m_receiver.received.reset();
        if (!m_client->send(message))
            return std::nullopt;
        const QDeadlineTimer deadline(20000);
        while (!m_receiver.received && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        require(m_receiver.received.has_value(), "a sent value arrives");
        return m_receiver.received;
    }

private:
    QDBusServer m_server;
    Receiver m_receiver;
    std::optional<QDBusConnection> m_serverSide;
    std::optional<QDBusConnection> m_client;
};

std::optional<Variant> read(const QVariant &received) {
    try {
        return Orvex::BusWire::fromBus(received);
    } catch (const Orvex::AutomationError &error) {
        require(error.number() == Orvex::ErrorNumber::BadVariableType ||
                    error.number() == Orvex::ErrorNumber::Overflow,
                "a value that does not read is a bad variable type or an overflow",
                QString::number(error.number()));
        return std::nullopt;
    }
}

Loopback *loopback = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    Orvex::Fuzz::silenceLogging();
    static QCoreApplication application(*argc, *argv);
    static Loopback connection;
    loopback = &connection;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider input(data, size);
    const QVariant sent = anyValue(input, 0);
    const std::optional<QVariant> received = loopback->cross(sent);
    if (!received)
        return 0;
    const std::optional<Variant> value = read(*received);
    if (!value)
        return 0;

    const std::optional<QVariant> back = loopback->cross(Orvex::BusWire::toBus(*value).variant());
    require(back.has_value(), "every value read can be sent");
    const std::optional<Variant> again = read(*back);
    require(again.has_value() && same(*again, *value), "a value read, written and read again is the same");
    return 0;
}

#include "fuzz_busvalue.moc"
