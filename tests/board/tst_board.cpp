#include "boardprocess.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpSocket>
#include <QTest>

namespace {

const QByteArray Declaration = "<?xml version='1.0' encoding='ISO-8859-1' standalone='yes'?>";

QByteArray postRequest(const QByteArray &target, const QByteArray &body) {
    return "POST " + target +
           " HTTP/1.1\r\nHost: board\r\nContent-Type: text/xml; charset=ISO-8859-1\r\n"
           "Content-Length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray listing(const QByteArray &action, const QByteArray &fields = {}) {
    return Declaration + "<JobPosting><Action>" + action + "</Action>" + fields + "</JobPosting>";
}

struct RawReply {
    int status = 0;
    QByteArray head;
    QByteArray body;
};

// Reads one reply from the socket: its head, then as many body bytes as it announces, or up to the end of
// the connection when it announces none. Empty status when none arrives.
RawReply readReply(QTcpSocket &socket, QByteArray *pending) {
    RawReply reply;
    QByteArray &received = *pending;
    const QDeadlineTimer deadline(10000);
    auto waitForMore = [&] {
        if (socket.state() != QAbstractSocket::ConnectedState || deadline.hasExpired())
            return false;
        socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        received += socket.readAll();
        return true;
    };
    received += socket.readAll();
    qsizetype headEnd = received.indexOf("\r\n\r\n");
    while (headEnd < 0 && waitForMore())
        headEnd = received.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return reply;
    reply.head = received.left(headEnd);
    received.remove(0, headEnd + 4);
    const QList<QByteArray> statusLine = reply.head.split(' ');
    if (statusLine.size() > 1)
        reply.status = statusLine.at(1).toInt();
    qint64 length = -1;
    for (const QByteArray &line : reply.head.split('\n')) {
        if (line.toLower().startsWith("content-length:"))
            length = line.mid(15).trimmed().toLongLong();
    }
    while ((length < 0 || received.size() < length) && waitForMore()) {
    }
    reply.body = length < 0 ? std::exchange(received, {}) : received.left(length);
    received.remove(0, reply.body.size());
    return reply;
}

// Sends raw bytes on a new connection and reads the one reply.
RawReply exchange(quint16 port, const QByteArray &request) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return {};
    socket.write(request);
    QByteArray pending;
    return readReply(socket, &pending);
}

bool closedByBoard(QTcpSocket &socket) {
    return QTest::qWaitFor([&] {
        socket.waitForReadyRead(50);
        socket.readAll();
        return socket.state() == QAbstractSocket::UnconnectedState;
    });
}

QByteArray post(const BoardProcess &board, const QByteArray &document) {
    return exchange(board.port(), postRequest("/cgi-bin/importJobs_xml.cgi", document)).body;
}

} // namespace

class TestBoard : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void routes_data();
    void routes();
    void jobIdsCountFromTheFirstId();
    void parsesTheDeclaredEncoding_data();
    void parsesTheDeclaredEncoding();
    void unreadableDocumentIsRefused_data();
    void unreadableDocumentIsRefused();
    void listingFaultOverridesStartUpFault();
    void refusesBadOptions_data();
    void refusesBadOptions();
    void dripDoesNotHoldUpOtherConnections();
    void postingsAreListedAsJson();
    void expectContinueIsAnswered();
    void connectionsAreKeptAsTold_data();
    void connectionsAreKeptAsTold();
    void idleConnectionIsClosed();
    void connectionsAreCounted();
    void requestsSentAheadAreAnsweredInTurn();
};

void TestBoard::routes_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");

    const QByteArray add = listing("Add");
    QTest::newRow("origin form") << postRequest("/cgi-bin/importJobs_xml.cgi", add) << 200
                                 << QByteArray("success=1&jobid=1");
    QTest::newRow("proxy form") << postRequest("http://jobs.orvex-board.example/cgi-bin/importJobs_xml.cgi",
                                               add)
                                << 200 << QByteArray("success=1&jobid=1");
    QTest::newRow("proxy form with port and query")
        << postRequest("http://jobs.example:8080/cgi-bin/importJobs_xml.cgi?x=1", add) << 200
        << QByteArray("success=1&jobid=1");
    QTest::newRow("GET on the import path") << QByteArray("GET /cgi-bin/importJobs_xml.cgi HTTP/1.1\r\n\r\n")
                                            << 405 << QByteArray("method not allowed");
    QTest::newRow("other path") << postRequest("/cgi-bin/other.cgi", add) << 404 << QByteArray("not found");
    QTest::newRow("other path in proxy form")
        << postRequest("http://jobs.example/importJobs_xml.cgi", add) << 404 << QByteArray("not found");
    QTest::newRow("longer path") << postRequest("/cgi-bin/importJobs_xml.cgi/more", add) << 404
                                 << QByteArray("not found");
    QTest::newRow("POST without length") << QByteArray("POST /cgi-bin/importJobs_xml.cgi HTTP/1.1\r\n\r\n")
                                         << 411 << QByteArray("Content-Length required");
    QTest::newRow("chunked body")
        << QByteArray(
               "POST /cgi-bin/importJobs_xml.cgi HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n")
        << 501 << QByteArray("transfer codings are not supported; send a Content-Length");
    QTest::newRow("bad request line") << QByteArray("HELLO\r\n\r\n") << 400 << QByteArray("bad request line");
    QTest::newRow("POST to the postings list")
        << postRequest("/postings", add) << 405 << QByteArray("method not allowed");
}

void TestBoard::routes() {
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    QFETCH(QByteArray, body);

    BoardProcess board;
    QVERIFY2(board.start(), qPrintable(board.errorString()));
    const RawReply reply = exchange(board.port(), request);
    QCOMPARE(reply.status, status);
    QCOMPARE(reply.body, body);
    if (status == 405)
        QVERIFY(reply.head.contains("\r\nAllow: "));
}

void TestBoard::jobIdsCountFromTheFirstId() {
    BoardProcess board({QStringLiteral("--first-id"), QStringLiteral("100")});
    QVERIFY2(board.start(), qPrintable(board.errorString()));

    QCOMPARE(post(board, listing("Add")), QByteArray("success=1&jobid=100"));
    QCOMPARE(post(board, listing("Update")), QByteArray("success=1"));
    QCOMPARE(post(board, listing("add")), QByteArray("success=1"));
    QCOMPARE(post(board, listing("Add")), QByteArray("success=1&jobid=101"));
    QCOMPARE(post(board, listing("Add", "<BoardFault>failure</BoardFault>")),
             QByteArray("success=0&error=rejected"));
    QCOMPARE(post(board, listing("Add")), QByteArray("success=1&jobid=102"));

    const QList<QJsonObject> postings = board.postings();
    QCOMPARE(postings.size(), 6);
    QCOMPARE(postings.at(0).value(QLatin1StringView("jobId")).toString(), QStringLiteral("100"));
    QVERIFY(!postings.at(1).contains(QLatin1StringView("jobId")));
    QCOMPARE(postings.at(4).value(QLatin1StringView("fault")).toString(), QStringLiteral("failure"));
}

void TestBoard::parsesTheDeclaredEncoding_data() {
    using Fields = QList<std::pair<QString, QString>>;
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("action");
    QTest::addColumn<Fields>("fields");

    QTest::newRow("escaped markup") << listing("Add", "<Title>R&amp;D &lt;lead&gt;</Title>")
                                    << QStringLiteral("Add")
                                    << Fields{{QStringLiteral("Title"), QStringLiteral("R&D <lead>")}};
    QTest::newRow("latin-1 byte") << listing("Add", "<City>Z\xfcrich caf\xe9</City>") << QStringLiteral("Add")
                                  << Fields{
                                         {QStringLiteral("City"), QStringLiteral("Z\u00fcrich caf\u00e9")}};
    QTest::newRow("character references")
        << listing("Add", "<Pay>&#8364;5 &#128512;</Pay>") << QStringLiteral("Add")
        << Fields{{QStringLiteral("Pay"), QStringLiteral("\u20ac5 \U0001F600")}};
    QTest::newRow("UTF-8 when declared")
        << QByteArray("<?xml version='1.0' "
                      "encoding='UTF-8'?><JobPosting><Action>Add</Action><City>caf\xc3\xa9</City>"
                      "</JobPosting>")
        << QStringLiteral("Add") << Fields{{QStringLiteral("City"), QStringLiteral("caf\u00e9")}};
    QTest::newRow("repeats kept in order, empty values kept")
        << listing("Delete", "<Tag>a</Tag><Note></Note><Tag>b</Tag>") << QStringLiteral("Delete")
        << Fields{{QStringLiteral("Tag"), QStringLiteral("a")},
                  {QStringLiteral("Note"), QString()},
                  {QStringLiteral("Tag"), QStringLiteral("b")}};
    QTest::newRow("action word with spaces") << listing(" Add ") << QStringLiteral(" Add ") << Fields{};
}

void TestBoard::parsesTheDeclaredEncoding() {
    using Fields = QList<std::pair<QString, QString>>;
    QFETCH(QByteArray, document);
    QFETCH(QString, action);
    QFETCH(Fields, fields);

    BoardProcess board;
    QVERIFY2(board.start(), qPrintable(board.errorString()));
    QVERIFY(post(board, document).startsWith("success=1"));
    const QList<QJsonObject> postings = board.postings();
    QCOMPARE(postings.size(), 1);
    QCOMPARE(postings.first().value(QLatin1StringView("action")).toString(), action);
    QCOMPARE(BoardProcess::fieldsOf(postings.first()), fields);
    QCOMPARE(BoardProcess::bodyOf(postings.first()), document);
}

void TestBoard::unreadableDocumentIsRefused_data() {
    QTest::addColumn<QByteArray>("document");

    QTest::newRow("not XML") << QByteArray("success=1");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("unclosed root") << Declaration + "<JobPosting><Action>Add</Action>";
    QTest::newRow("other root") << Declaration + "<Job><Action>Add</Action></Job>";
    QTest::newRow("no action") << Declaration + "<JobPosting><Title>x</Title></JobPosting>";
    QTest::newRow("element inside a field") << listing("Add", "<Title><b>x</b></Title>");
    QTest::newRow("bare ampersand") << listing("Add", "<Title>R&D</Title>");
    QTest::newRow("unknown fault") << listing("Add", "<BoardFault>meltdown</BoardFault>");
}

void TestBoard::unreadableDocumentIsRefused() {
    QFETCH(QByteArray, document);

    BoardProcess board;
    QVERIFY2(board.start(), qPrintable(board.errorString()));
    const QByteArray reply = post(board, document);
    QVERIFY2(reply.startsWith("success=0&error="), reply.constData());
    QVERIFY2(!reply.mid(16).contains('&'), "the error text must not split into more reply tokens");
    const QList<QJsonObject> postings = board.postings();
    QCOMPARE(postings.size(), 1);
    QVERIFY(!postings.first().value(QLatin1StringView("error")).toString().isEmpty());
    QVERIFY(!postings.first().contains(QLatin1StringView("jobId")));
    // The refused document used no id.
    QCOMPARE(post(board, listing("Add")), QByteArray("success=1&jobid=1"));
}

void TestBoard::listingFaultOverridesStartUpFault() {
    BoardProcess board({QStringLiteral("--fault"), QStringLiteral("failure")});
    QVERIFY2(board.start(), qPrintable(board.errorString()));
    QCOMPARE(post(board, listing("Add")), QByteArray("success=0&error=rejected"));
    QCOMPARE(post(board, listing("Add", "<BoardFault>no-jobid</BoardFault>")), QByteArray("success=1"));
    QCOMPARE(post(board, listing("Add", "<BoardFault></BoardFault>")), QByteArray("success=1&jobid=1"));
}

void TestBoard::refusesBadOptions_data() {
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("unknown fault") << QStringList{QStringLiteral("--fault"), QStringLiteral("meltdown")};
    QTest::newRow("status out of range")
        << QStringList{QStringLiteral("--fault"), QStringLiteral("status:42")};
    QTest::newRow("redirect that is no redirect")
        << QStringList{QStringLiteral("--fault"), QStringLiteral("redirect:200")};
    QTest::newRow("port out of range") << QStringList{QStringLiteral("--port"), QStringLiteral("70000")};
    QTest::newRow("first id not a number")
        << QStringList{QStringLiteral("--first-id"), QStringLiteral("one")};
    QTest::newRow("negative idle time")
        << QStringList{QStringLiteral("--idle-timeout"), QStringLiteral("-1")};
    QTest::newRow("drop count not a number")
        << QStringList{QStringLiteral("--drop-after"), QStringLiteral("x")};
    QTest::newRow("certificate without key")
        << QStringList{QStringLiteral("--tls-cert"), BoardProcess::executable()};
    // The board's own executable is a readable file that holds no PEM.
    QTest::newRow("certificate file without a certificate")
        << QStringList{QStringLiteral("--tls-cert"), BoardProcess::executable(), QStringLiteral("--tls-key"),
                       BoardProcess::executable()};
}

void TestBoard::refusesBadOptions() {
    QFETCH(QStringList, arguments);

    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(BoardProcess::executable(), arguments);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 2);
}

void TestBoard::dripDoesNotHoldUpOtherConnections() {
    BoardProcess board;
    QVERIFY2(board.start(), qPrintable(board.errorString()));

    QTcpSocket dripping;
    dripping.connectToHost(QHostAddress::LocalHost, board.port());
    QVERIFY(dripping.waitForConnected(5000));
    dripping.write(
        postRequest("/cgi-bin/importJobs_xml.cgi", listing("Add", "<BoardFault>drip</BoardFault>")));
    QByteArray dripped;
    QVERIFY(QTest::qWaitFor([&] {
        dripping.waitForReadyRead(100);
        dripped += dripping.readAll();
        return dripped.contains("\r\n\r\n");
    }));
    QVERIFY(dripped.startsWith("HTTP/1.1 200 "));

    QCOMPARE(post(board, listing("Add")), QByteArray("success=1&jobid=1"));
    QCOMPARE(dripping.state(), QAbstractSocket::ConnectedState);
    QCOMPARE(dripped.mid(dripped.indexOf("\r\n\r\n") + 4), QByteArray("succ"));
}

void TestBoard::postingsAreListedAsJson() {
    BoardProcess board;
    QVERIFY2(board.start(), qPrintable(board.errorString()));
    post(board, listing("Add", "<JobCode>J1</JobCode>"));
    post(board, listing("Delete", "<JobCode>J1</JobCode>"));

    const RawReply reply = exchange(board.port(), "GET /postings HTTP/1.1\r\nHost: board\r\n\r\n");
    QCOMPARE(reply.status, 200);
    QVERIFY(reply.head.contains("Content-Type: application/json"));
    const QJsonArray postings = QJsonDocument::fromJson(reply.body).array();
    QCOMPARE(postings.size(), 2);
    QCOMPARE(postings.at(0).toObject().value(QLatin1StringView("action")).toString(), QStringLiteral("Add"));
    QCOMPARE(postings.at(1).toObject().value(QLatin1StringView("action")).toString(),
             QStringLiteral("Delete"));
    QCOMPARE(postings.at(1).toObject(), board.postings().at(1));
}

void TestBoard::expectContinueIsAnswered() {
    BoardProcess board;
    QVERIFY2(board.start(), qPrintable(board.errorString()));

    const QByteArray body = listing("Add");
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, board.port());
    QVERIFY(socket.waitForConnected(5000));
    socket.write("POST /cgi-bin/importJobs_xml.cgi HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: " +
                 QByteArray::number(body.size()) + "\r\n\r\n");
    QByteArray received;
    QVERIFY(QTest::qWaitFor([&] {
        socket.waitForReadyRead(100);
        received += socket.readAll();
        return received.contains("\r\n\r\n");
    }));
    QCOMPARE(received, QByteArray("HTTP/1.1 100 Continue\r\n\r\n"));
    socket.write(body);
    QVERIFY(QTest::qWaitFor([&] {
        socket.waitForReadyRead(100);
        received += socket.readAll();
        return received.endsWith("success=1&jobid=1");
    }));
}

void TestBoard::connectionsAreKeptAsTold_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<QByteArray>("extraHeaders");
    QTest::addColumn<bool>("closesAfterReply");
    QTest::addColumn<bool>("answersSecond");
    QTest::addColumn<QByteArray>("announced");

    QTest::newRow("kept open by default")
        << QStringList{} << QByteArray("HTTP/1.1") << QByteArray() << false << true << QByteArray();
    QTest::newRow("closed after every reply when told")
        << QStringList{QStringLiteral("--close-connections")} << QByteArray("HTTP/1.1") << QByteArray()
        << true << false << QByteArray();
    QTest::newRow("closed when the client asks")
        << QStringList{} << QByteArray("HTTP/1.1") << QByteArray("Connection: close\r\n") << true << false
        << QByteArray();
    QTest::newRow("closed for an HTTP/1.0 client")
        << QStringList{} << QByteArray("HTTP/1.0") << QByteArray() << true << false << QByteArray();
    QTest::newRow("announces its keep-alive time")
        << QStringList{QStringLiteral("--announce-keep-alive"), QStringLiteral("7")} << QByteArray("HTTP/1.1")
        << QByteArray() << false << true << QByteArray("Keep-Alive: timeout=7");
    QTest::newRow("takes the request after the last reply and closes unanswered")
        << QStringList{QStringLiteral("--drop-after"), QStringLiteral("1")} << QByteArray("HTTP/1.1")
        << QByteArray() << false << false << QByteArray();
}

void TestBoard::connectionsAreKeptAsTold() {
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, version);
    QFETCH(QByteArray, extraHeaders);
    QFETCH(bool, closesAfterReply);
    QFETCH(bool, answersSecond);
    QFETCH(QByteArray, announced);

    BoardProcess board(arguments);
    QVERIFY2(board.start(), qPrintable(board.errorString()));
    const QByteArray body = listing("Add");
    const QByteArray request = "POST /cgi-bin/importJobs_xml.cgi " + version + "\r\nHost: board\r\n" +
                               extraHeaders + "Content-Length: " + QByteArray::number(body.size()) +
                               "\r\n\r\n" + body;
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, board.port());
    QVERIFY(socket.waitForConnected(5000));
    QByteArray pending;
    socket.write(request);
    const RawReply first = readReply(socket, &pending);
    QCOMPARE(first.body, QByteArray("success=1&jobid=1"));
    QCOMPARE(first.head.contains("\r\nConnection: close"), closesAfterReply);
    if (!announced.isEmpty())
        QVERIFY2(first.head.contains("\r\n" + announced), first.head.constData());
    if (closesAfterReply) {
        QVERIFY(closedByBoard(socket));
        QCOMPARE(board.postings().size(), 1);
        return;
    }

    socket.write(request);
    if (answersSecond) {
        QCOMPARE(readReply(socket, &pending).body, QByteArray("success=1&jobid=2"));
        QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
    } else {
        QVERIFY(closedByBoard(socket));
        QVERIFY(pending.isEmpty());
    }
    // Either way the board took both, on the one connection.
    const QList<QJsonObject> postings = board.postings();
    QCOMPARE(postings.size(), 2);
    QCOMPARE(postings.at(1).value(QLatin1StringView("connection")),
             postings.at(0).value(QLatin1StringView("connection")));
}

void TestBoard::idleConnectionIsClosed() {
    BoardProcess board({QStringLiteral("--idle-timeout"), QStringLiteral("1")});
    QVERIFY2(board.start(), qPrintable(board.errorString()));
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, board.port());
    QVERIFY(socket.waitForConnected(5000));
    socket.write(postRequest("/cgi-bin/importJobs_xml.cgi", listing("Add")));
    QByteArray pending;
    const RawReply reply = readReply(socket, &pending);
    QCOMPARE(reply.body, QByteArray("success=1&jobid=1"));
    QVERIFY2(!reply.head.contains("Keep-Alive"), "the idle time is not announced");
    QVERIFY(closedByBoard(socket));
}

void TestBoard::connectionsAreCounted() {
    BoardProcess board;
    QVERIFY2(board.start(), qPrintable(board.errorString()));
    QTcpSocket kept;
    kept.connectToHost(QHostAddress::LocalHost, board.port());
    QVERIFY(kept.waitForConnected(5000));
    QByteArray pending;
    for (int i = 0; i < 2; ++i) {
        kept.write(postRequest("/cgi-bin/importJobs_xml.cgi", listing("Add")));
        QCOMPARE(readReply(kept, &pending).status, 200);
    }
    QCOMPARE(post(board, listing("Add")), QByteArray("success=1&jobid=3"));

    const RawReply reply = exchange(board.port(), "GET /connections HTTP/1.1\r\nHost: board\r\n\r\n");
    QCOMPARE(reply.status, 200);
    const QJsonObject counts = QJsonDocument::fromJson(reply.body).object();
    QCOMPARE(counts.value(QLatin1StringView("opened")).toInt(), 3);
    QVERIFY(counts.value(QLatin1StringView("open")).toInt() >= 2);
    QList<int> connections;
    for (const QJsonObject &posting : board.postings())
        connections.append(posting.value(QLatin1StringView("connection")).toInt());
    QCOMPARE(connections, (QList<int>{1, 1, 2}));
}

void TestBoard::requestsSentAheadAreAnsweredInTurn() {
    BoardProcess board;
    QVERIFY2(board.start(), qPrintable(board.errorString()));
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, board.port());
    QVERIFY(socket.waitForConnected(5000));
    // The second listing waits behind a slow first one; a hundred tiny requests follow at once.
    QByteArray requests =
        postRequest("/cgi-bin/importJobs_xml.cgi", listing("Add", "<BoardFault>delay:200</BoardFault>")) +
        postRequest("/cgi-bin/importJobs_xml.cgi", listing("Add"));
    for (int i = 0; i < 100; ++i)
        requests += "GET /missing HTTP/1.1\r\nHost: board\r\n\r\n";
    socket.write(requests);
    QByteArray pending;
    QCOMPARE(readReply(socket, &pending).body, QByteArray("success=1&jobid=1"));
    QCOMPARE(readReply(socket, &pending).body, QByteArray("success=1&jobid=2"));
    for (int i = 0; i < 100; ++i)
        QCOMPARE(readReply(socket, &pending).status, 404);
    QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
}

QTEST_GUILESS_MAIN(TestBoard)
#include "tst_board.moc"
