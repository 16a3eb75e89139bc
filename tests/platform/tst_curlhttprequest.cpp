#include "automationerror.h"
#include "boardendpoint.h"
#include "boardprocess.h"
#include "connectproxy.h"
#include "curlconnectionshare.h"
#include "curlhttprequest.h"
#include "errortable.h"
#include "scopedenvironment.h"
#include "testcertificates.h"
#include "wireencoding.h"

#include <QFile>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTest>

#include <chrono>
#include <optional>

using namespace std::chrono_literals;
using Orvex::AutomationError;
using Orvex::CurlHttpRequest;
using Orvex::DeliveryClass;
namespace ErrorNumber = Orvex::ErrorNumber;

namespace {

// The board's drip fault stays silent for minutes; a short stall limit keeps that row quick.
Orvex::HttpLimits testLimits() {
    Orvex::HttpLimits limits;
    limits.stallTime = 2s;
    return limits;
}

// The connect timeout is shorter than the slowest answer, which must still arrive: it bounds the
// connection alone. The whole exchange has a few seconds, so a board that trickles is given up soon.
Orvex::HttpSettings testSettings() {
    Orvex::HttpSettings settings;
    settings.connectTimeout = 1s;
    settings.timeout = 5s;
    return settings;
}

QString listingWithFault(const QString &action, const QString &fault) {
    QString document = QStringLiteral("<?xml version='1.0' encoding='ISO-8859-1' standalone='yes'?>"
                                      "<JobPosting><Action>%1</Action><JobCode>J1</JobCode>")
                           .arg(action);
    if (!fault.isEmpty())
        document += QStringLiteral("<BoardFault>%1</BoardFault>").arg(fault);
    return document + QStringLiteral("</JobPosting>");
}

// Runs the call and returns the error it raised, if any.
template<typename Call> std::optional<AutomationError> errorOf(Call &&call) {
    try {
        call();
    } catch (const AutomationError &error) {
        return error;
    }
    return std::nullopt;
}

quint16 refusedPort() {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort(); // closed again when `server` goes, so nothing listens there
}

} // namespace

class TestCurlHttpRequest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void exchangeWithBoard_data();
    void exchangeWithBoard();
    void transferFailure_data();
    void transferFailure();
    void certificate_data();
    void certificate();
    void bodyGoesOutAsLatin1WithCharacterReferences();
    void largeBodyDoesNotWaitForContinue();
    void replyCapIsExact_data();
    void replyCapIsExact();
    void proxyCarriesTheConstantEndpoint();
    void proxyRefusal_data();
    void proxyRefusal();
    void debugLinesNameRedirectsWithoutPasswords();
    void noProxyGoesDirect();
    void refusedPortCannotConnect();
    void unresolvableNameIsReported();
    void openRejects_data();
    void openRejects();
    void stateFollowsOpenAndSend();
    void replyDecoding_data();
    void replyDecoding();
    void keptConnectionAge_data();
    void keptConnectionAge();
};

void TestCurlHttpRequest::exchangeWithBoard_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("responseText");

    const QString add = QStringLiteral("Add");
    QTest::newRow("add answers a job id") << add << QString() << 200 << QStringLiteral("success=1&jobid=1");
    QTest::newRow("other action answers no id")
        << QStringLiteral("Update") << QString() << 200 << QStringLiteral("success=1");
    QTest::newRow("status 500 keeps its body")
        << add << QStringLiteral("status:500:success=1") << 500 << QStringLiteral("success=1");
    QTest::newRow("status 204 without body") << add << QStringLiteral("status:204") << 204 << QString();
    QTest::newRow("empty body") << add << QStringLiteral("empty") << 200 << QString();
    QTest::newRow("quoted ampersand")
        << add << QStringLiteral("quoted-amp") << 200 << QStringLiteral("success=1&note=\"a&b\"&jobid=1");
    QTest::newRow("trailing CR LF kept")
        << add << QStringLiteral("crlf") << 200 << QStringLiteral("success=1&jobid=1\r\n");
    QTest::newRow("no job id") << add << QStringLiteral("no-jobid") << 200 << QStringLiteral("success=1");
    QTest::newRow("refused listing") << add << QStringLiteral("failure") << 200
                                     << QStringLiteral("success=0&error=rejected");
    QTest::newRow("windows-1252 reply") << add << QStringLiteral("charset:windows-1252") << 200
                                        << QStringLiteral("success=1&jobid=1-\u00e9\u20ac");
    QTest::newRow("UTF-16 reply") << add << QStringLiteral("charset:UTF-16LE") << 200
                                  << QStringLiteral("success=1&jobid=1-\u00e9\u20ac");
    QTest::newRow("unknown charset read as UTF-8") << add << QStringLiteral("charset:x-no-such-charset")
                                                   << 200 << QStringLiteral("success=1&jobid=1-\u00e9\u20ac");
    QTest::newRow("301 keeps the POST")
        << add << QStringLiteral("redirect:301") << 200 << QStringLiteral("success=1&jobid=1");
    QTest::newRow("302 keeps the POST")
        << add << QStringLiteral("redirect:302") << 200 << QStringLiteral("success=1&jobid=1");
    QTest::newRow("303 asks with GET")
        << add << QStringLiteral("redirect:303") << 405 << QStringLiteral("method not allowed");
    QTest::newRow("307 keeps the POST")
        << add << QStringLiteral("redirect:307") << 200 << QStringLiteral("success=1&jobid=1");
    QTest::newRow("308 keeps the POST")
        << add << QStringLiteral("redirect:308") << 200 << QStringLiteral("success=1&jobid=1");
    QTest::newRow("gzip reply decoded")
        << add << QStringLiteral("gzip") << 200 << QStringLiteral("success=1&jobid=1");
    QTest::newRow("deflate reply decoded")
        << add << QStringLiteral("deflate") << 200 << QStringLiteral("success=1&jobid=1");
    QTest::newRow("NUL in the reply replaced")
        << add << QStringLiteral("nul") << 200 << QStringLiteral("success=1&jobid=1\uFFFD34");
    QTest::newRow("slow but steady answer")
        << add << QStringLiteral("delay:300") << 200 << QStringLiteral("success=1&jobid=1");
    QTest::newRow("answer slower than the connect timeout")
        << add << QStringLiteral("delay:1500") << 200 << QStringLiteral("success=1&jobid=1");
}

void TestCurlHttpRequest::exchangeWithBoard() {
    QFETCH(QString, action);
    QFETCH(QString, fault);
    QFETCH(int, status);
    QFETCH(QString, responseText);

    BoardProcess board;
    QVERIFY2(board.start(), qPrintable(board.errorString()));

    // Kept connections: this thread's transfers take turns with one handle.
    Orvex::HttpSettings kept = testSettings();
    kept.reuseConnection = true;
    CurlHttpRequest request(kept, testLimits());
    request.open(QStringLiteral("POST"), board.endpointUrl(), false);
    request.send(Orvex::toWireBytes(listingWithFault(action, fault)));
    QCOMPARE(request.readyState(), 4);
    QCOMPARE(request.status(), status);
    QCOMPARE(request.responseText(), responseText);

    // Nothing of that exchange (its method, redirects, encoding) stays set for the next on the handle.
    CurlHttpRequest next(kept, testLimits());
    next.open(QStringLiteral("POST"), board.endpointUrl(), false);
    next.send(Orvex::toWireBytes(listingWithFault(QStringLiteral("Add"), QString())));
    QCOMPARE(next.status(), 200);
    QVERIFY2(next.responseText().startsWith(u"success=1&jobid="), qPrintable(next.responseText()));
}

void TestCurlHttpRequest::transferFailure_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<qint32>("number");
    // Whether the board may hold the listing: only where nothing of it left, or a server answered for it
    // without taking it, can it be sent again.
    QTest::addColumn<DeliveryClass>("delivery");

    const DeliveryClass unknown = DeliveryClass::Unknown;
    const DeliveryClass notSent = DeliveryClass::NotSent;
    QTest::newRow("closed before the status line")
        << QStringLiteral("close-before-status") << ErrorNumber::ConnectionReset << unknown;
    QTest::newRow("closed in the middle of the body")
        << QStringLiteral("close-mid-body") << ErrorNumber::ConnectionReset << unknown;
    QTest::newRow("connection reset") << QStringLiteral("reset") << ErrorNumber::ConnectionReset << unknown;
    QTest::newRow("no HTTP at all") << QStringLiteral("garbage") << ErrorNumber::InvalidServerResponse
                                    << unknown;
    QTest::newRow("redirect loop") << QStringLiteral("redirect-loop") << ErrorNumber::RedirectFailed
                                   << notSent;
    QTest::newRow("redirect to a local file")
        << QStringLiteral("redirect-to:file:///etc/passwd") << ErrorNumber::RedirectFailed << notSent;
    QTest::newRow("redirect to ftp") << QStringLiteral("redirect-to:ftp://127.0.0.1/x")
                                     << ErrorNumber::RedirectFailed << notSent;
    QTest::newRow("too large, announced") << QStringLiteral("huge") << ErrorNumber::ReplyTooLarge << unknown;
    QTest::newRow("too large, unannounced")
        << QStringLiteral("huge-unsized") << ErrorNumber::ReplyTooLarge << unknown;
    QTest::newRow("stalled transfer") << QStringLiteral("drip") << ErrorNumber::TimedOut << unknown;
    QTest::newRow("steady trickle outlasts the time limit")
        << QStringLiteral("trickle") << ErrorNumber::TimedOut << unknown;
    QTest::newRow("body taken, answer later than the time limit")
        << QStringLiteral("delay:8000") << ErrorNumber::TimedOut << unknown;
    // Each hop within the limit, the chain beyond it: the limit is on the whole exchange.
    QTest::newRow("redirect chain slower than the time limit, each hop within it")
        << QStringLiteral("slow-redirect:3000") << ErrorNumber::TimedOut << unknown;
}

void TestCurlHttpRequest::transferFailure() {
    QFETCH(QString, fault);
    QFETCH(qint32, number);
    QFETCH(DeliveryClass, delivery);

    BoardProcess board;
    QVERIFY2(board.start(), qPrintable(board.errorString()));

    CurlHttpRequest request(testSettings(), testLimits());
    request.open(QStringLiteral("POST"), board.endpointUrl(), false);
    const auto error =
        errorOf([&] { request.send(Orvex::toWireBytes(listingWithFault(QStringLiteral("Add"), fault))); });
    QVERIFY(error);
    QCOMPARE(error->number(), number);
    QCOMPARE(error->source(), QString::fromUtf16(CurlHttpRequest::ErrorSource));
    QVERIFY(!error->description().isEmpty());
    QCOMPARE(request.failedDelivery(), delivery);
    QCOMPARE(request.readyState(), 1);
    QVERIFY(errorOf([&] { request.status(); }));
}

void TestCurlHttpRequest::certificate_data() {
    QTest::addColumn<TestCertificates::Board>("board");
    // The host of the URL, or "proxy": the constant endpoint through http_proxy=https://, the board's.
    QTest::addColumn<QString>("host");
    // Which CA file each variable names: "authority" (the test's), "unrelated", or none.
    QTest::addColumn<QString>("curlCaBundle");
    QTest::addColumn<QString>("sslCertFile");
    // The libcurl message on failure; an empty pattern means the posting succeeds.
    QTest::addColumn<QString>("problem");

    using B = TestCertificates::Board;
    const QString address = QStringLiteral("127.0.0.1");
    const QString authority = QStringLiteral("authority");
    const QString unrelated = QStringLiteral("unrelated");
    QTest::newRow("vouched for by CURL_CA_BUNDLE")
        << B::Vouched << address << authority << QString() << QString();
    QTest::newRow("vouched for by SSL_CERT_FILE, by name")
        << B::Vouched << QStringLiteral("localhost") << QString() << authority << QString();
    QTest::newRow("CURL_CA_BUNDLE wins over SSL_CERT_FILE")
        << B::Vouched << address << unrelated << authority << QStringLiteral("unable to get local issuer");
    QTest::newRow("the system's store does not know the authority")
        << B::Vouched << address << QString() << QString() << QStringLiteral("unable to get local issuer");
    QTest::newRow("self-signed") << B::SelfSigned << address << authority << QString()
                                 << QStringLiteral("SSL certificate problem: self.signed certificate");
    QTest::newRow("expired") << B::Expired << address << authority << QString()
                             << QStringLiteral("SSL certificate problem: certificate has expired");
    QTest::newRow("issued for another host")
        << B::WrongHost << address << QString() << authority
        << QStringLiteral("subject name matches target host name '127\\.0\\.0\\.1'");
    const QString proxy = QStringLiteral("proxy");
    QTest::newRow("https proxy vouched for") << B::Vouched << proxy << authority << QString() << QString();
    QTest::newRow("https proxy self-signed")
        << B::SelfSigned << proxy << authority << QString()
        << QStringLiteral("SSL certificate problem: self.signed certificate");
}

void TestCurlHttpRequest::certificate() {
    QFETCH(TestCertificates::Board, board);
    QFETCH(QString, host);
    QFETCH(QString, curlCaBundle);
    QFETCH(QString, sslCertFile);
    QFETCH(QString, problem);

    TestCertificates certificates;
    QVERIFY2(certificates.create(), qPrintable(certificates.errorString()));
    const auto caFile = [&certificates](const QString &name) {
        if (name.isEmpty())
            return QByteArray();
        return QFile::encodeName(name == QLatin1StringView("authority")
                                     ? certificates.authorityFile()
                                     : certificates.unrelatedAuthorityFile());
    };
    const ScopedEnvironment environment{{"CURL_CA_BUNDLE", caFile(curlCaBundle)},
                                        {"SSL_CERT_FILE", caFile(sslCertFile)}};
    BoardProcess secureBoard(certificates.boardArguments(board));
    QVERIFY2(secureBoard.start(), qPrintable(secureBoard.errorString()));

    const bool viaProxy = host == QLatin1StringView("proxy");
    std::optional<ScopedHttpProxy> proxy;
    if (viaProxy)
        proxy.emplace(secureBoard.proxyUrl());

    CurlHttpRequest request(testSettings(), testLimits());
    request.open(QStringLiteral("POST"), viaProxy ? Orvex::boardEndpointUrl() : secureBoard.endpointUrl(host),
                 false);
    const auto error = errorOf(
        [&] { request.send(Orvex::toWireBytes(listingWithFault(QStringLiteral("Add"), QString()))); });
    if (problem.isEmpty()) {
        QVERIFY2(!error, error ? qPrintable(error->description()) : "");
        QCOMPARE(request.responseText(), QStringLiteral("success=1&jobid=1"));
        return;
    }
    QVERIFY(error);
    QCOMPARE(error->number(), Orvex::ErrorNumber::SecureChannelError);
    QVERIFY2(error->description().contains(QRegularExpression(problem)), qPrintable(error->description()));
    QVERIFY2(secureBoard.postings().isEmpty(), "nothing may go over a channel that failed verification");
}

void TestCurlHttpRequest::bodyGoesOutAsLatin1WithCharacterReferences() {
    BoardProcess board;
    QVERIFY2(board.start(), qPrintable(board.errorString()));

    const QString title =
        QStringLiteral("Caf\u00e9 \u20ac5 \U0001F600 ") + QChar(0xD800) + QStringLiteral(" R&amp;D");
    const QString document = QStringLiteral("<?xml version='1.0' encoding='ISO-8859-1' standalone='yes'?>"
                                            "<JobPosting><Action>Add</Action><Title>%1</Title></JobPosting>")
                                 .arg(title);
    CurlHttpRequest request;
    request.open(QStringLiteral("POST"), board.endpointUrl(), false);
    request.send(Orvex::toWireBytes(document));
    QCOMPARE(request.status(), 200);

    const QList<QJsonObject> postings = board.postings();
    QCOMPARE(postings.size(), 1);
    const QJsonObject posting = postings.first();
    QVERIFY(BoardProcess::bodyOf(posting).endsWith(
        "<Title>Caf\xe9 &#8364;5 &#128512; &#65533; R&amp;D</Title></JobPosting>"));
    const auto fields = BoardProcess::fieldsOf(posting);
    QCOMPARE(fields.size(), 1);
    QCOMPARE(fields.first().second, QStringLiteral("Caf\u00e9 \u20ac5 \U0001F600 \uFFFD R&D"));

    QCOMPARE(posting.value(QLatin1StringView("contentType")).toString(),
             QStringLiteral("text/xml; charset=ISO-8859-1"));
    QCOMPARE(posting.value(QLatin1StringView("userAgent")).toString(),
             QStringLiteral("OrvexKelPostJob/1.00.0002"));
    QVERIFY2(!posting.contains(QLatin1StringView("expect")), "the request must not wait for 100 Continue");
}

void TestCurlHttpRequest::largeBodyDoesNotWaitForContinue() {
    BoardProcess board;
    QVERIFY2(board.start(), qPrintable(board.errorString()));

    // libcurl asks for 100 Continue only on large bodies; a board that never sends it would stall them.
    const QString padding(2 * 1024 * 1024, QLatin1Char('x'));
    CurlHttpRequest request(testSettings(), testLimits());
    request.open(QStringLiteral("POST"), board.endpointUrl(), false);
    request.send(Orvex::toWireBytes(listingWithFault(QStringLiteral("Add"), QString())
                                        .replace(QStringLiteral("</JobPosting>"),
                                                 QStringLiteral("<Pad>%1</Pad></JobPosting>").arg(padding))));
    QCOMPARE(request.status(), 200);
    const QList<QJsonObject> postings = board.postings();
    QCOMPARE(postings.size(), 1);
    QVERIFY(!postings.first().contains(QLatin1StringView("expect")));
    QCOMPARE(BoardProcess::fieldsOf(postings.first()).last().second, padding);
}

void TestCurlHttpRequest::replyCapIsExact_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("announced, at the cap") << QStringLiteral("huge:1000") << true;
    QTest::newRow("announced, one byte over") << QStringLiteral("huge:1001") << false;
    QTest::newRow("unannounced, at the cap") << QStringLiteral("huge-unsized:1000") << true;
    QTest::newRow("unannounced, one byte over") << QStringLiteral("huge-unsized:1001") << false;
}

void TestCurlHttpRequest::replyCapIsExact() {
    QFETCH(QString, fault);
    QFETCH(bool, accepted);

    BoardProcess board;
    QVERIFY2(board.start(), qPrintable(board.errorString()));

    Orvex::HttpLimits limits;
    limits.maxReplyBytes = 1000;
    CurlHttpRequest request({}, limits);
    request.open(QStringLiteral("POST"), board.endpointUrl(), false);
    const auto error =
        errorOf([&] { request.send(Orvex::toWireBytes(listingWithFault(QStringLiteral("Add"), fault))); });
    if (accepted) {
        QVERIFY2(!error, error ? qPrintable(error->description()) : "");
        QCOMPARE(request.responseText().size(), 1000);
        QVERIFY(request.responseText().startsWith(QLatin1StringView("success=1&jobid=1&pad=xxx")));
    } else {
        QVERIFY(error);
        QCOMPARE(error->number(), ErrorNumber::ReplyTooLarge);
    }
}

void TestCurlHttpRequest::proxyCarriesTheConstantEndpoint() {
    BoardProcess board;
    QVERIFY2(board.start(), qPrintable(board.errorString()));
    const ScopedHttpProxy proxy(board.proxyUrl());

    const QString endpoint = Orvex::boardEndpointUrl();
    QVERIFY(endpoint.startsWith(QLatin1StringView("http://")));
    QVERIFY(endpoint.endsWith(QLatin1StringView("/cgi-bin/importJobs_xml.cgi")));

    CurlHttpRequest request;
    request.open(QStringLiteral("POST"), endpoint, false);
    request.send(Orvex::toWireBytes(listingWithFault(QStringLiteral("Add"), QString())));
    QCOMPARE(request.status(), 200);
    QCOMPARE(request.responseText(), QStringLiteral("success=1&jobid=1"));
    const QList<QJsonObject> postings = board.postings();
    QCOMPARE(postings.size(), 1);
    QCOMPARE(postings.first().value(QLatin1StringView("target")).toString(), endpoint);
}

void TestCurlHttpRequest::proxyRefusal_data() {
    QTest::addColumn<int>("refusal");
    QTest::addColumn<bool>("tunnel"); // an https URL through https_proxy, else http through http_proxy

    QTest::newRow("tunnel forbidden") << 403 << true;
    QTest::newRow("tunnel needs credentials") << 407 << true;
    QTest::newRow("plain request needs credentials") << 407 << false;
}

void TestCurlHttpRequest::proxyRefusal() {
    QFETCH(int, refusal);
    QFETCH(bool, tunnel);

    ConnectProxy proxy(refusal);
    QVERIFY(proxy.start());
    const ScopedEnvironment environment{{tunnel ? "https_proxy" : "http_proxy", proxy.url().toLatin1()}};
    CurlHttpRequest request(testSettings(), testLimits());
    request.open(QStringLiteral("POST"),
                 QStringLiteral("%1://board.example/cgi-bin/importJobs_xml.cgi")
                     .arg(tunnel ? QStringLiteral("https") : QStringLiteral("http")),
                 false);
    const auto error = errorOf(
        [&] { request.send(Orvex::toWireBytes(listingWithFault(QStringLiteral("Add"), QString()))); });
    QVERIFY(error);
    QCOMPARE(error->number(), ErrorNumber::ProxyRefused);
    QCOMPARE(request.failedDelivery(), DeliveryClass::NotSent);
    QVERIFY2(error->description().contains(QString::number(refusal)), qPrintable(error->description()));
    QCOMPARE(proxy.tunnels().size(), 1);
}

void TestCurlHttpRequest::debugLinesNameRedirectsWithoutPasswords() {
    BoardProcess board;
    QVERIFY2(board.start(), qPrintable(board.errorString()));
    static QStringList lines;
    lines.clear();
    QLoggingCategory::setFilterRules(QStringLiteral("orvex.http.debug=true"));
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext &, const QString &message) { lines.append(message); });
    const auto restore = qScopeGuard([previous] {
        qInstallMessageHandler(previous);
        QLoggingCategory::setFilterRules(QString());
    });

    CurlHttpRequest request(testSettings(), testLimits());
    request.open(
        QStringLiteral("POST"),
        board.endpointUrl().replace(QStringLiteral("http://"), QStringLiteral("http://clerk:s3cret@")),
        false);
    request.send(Orvex::toWireBytes(listingWithFault(QStringLiteral("Add"), QStringLiteral("redirect:308"))));
    QCOMPARE(request.responseText(), QStringLiteral("success=1&jobid=1"));
    const QStringList followed = lines.filter(QStringLiteral("following"));
    QCOMPARE(followed.size(), 1);
    QVERIFY2(followed.first().contains(QStringLiteral("308")) &&
                 followed.first().contains(QStringLiteral("/cgi-bin/importJobs_xml.cgi?redirected=1")),
             qPrintable(followed.first()));
    QVERIFY2(!lines.join(u'\n').contains(QStringLiteral("s3cret")), qPrintable(lines.join(u'\n')));
}

void TestCurlHttpRequest::noProxyGoesDirect() {
    BoardProcess board;
    QVERIFY2(board.start(), qPrintable(board.errorString()));
    // A proxy that would refuse every connection, bypassed for loopback.
    const ScopedHttpProxy proxy(QStringLiteral("http://127.0.0.1:%1").arg(refusedPort()));
    qputenv("no_proxy", "127.0.0.1");

    CurlHttpRequest request;
    request.open(QStringLiteral("POST"), board.endpointUrl(), false);
    request.send(Orvex::toWireBytes(listingWithFault(QStringLiteral("Add"), QString())));
    QCOMPARE(request.responseText(), QStringLiteral("success=1&jobid=1"));
}

void TestCurlHttpRequest::refusedPortCannotConnect() {
    const quint16 port = refusedPort();
    QVERIFY(port != 0);
    CurlHttpRequest request;
    request.open(QStringLiteral("POST"),
                 QStringLiteral("http://127.0.0.1:%1/cgi-bin/importJobs_xml.cgi").arg(port), false);
    const auto error = errorOf([&] { request.send(Orvex::toWireBytes(QStringLiteral("<JobPosting/>"))); });
    QVERIFY(error);
    QCOMPARE(error->number(), ErrorNumber::CannotConnect);
    QCOMPARE(request.failedDelivery(), DeliveryClass::NotSent);
}

void TestCurlHttpRequest::unresolvableNameIsReported() {
    // .invalid never resolves; the test environment clears the proxy, so the name is looked up here.
    CurlHttpRequest request;
    request.open(QStringLiteral("POST"),
                 QStringLiteral("http://board.orvex.invalid/cgi-bin/importJobs_xml.cgi"), false);
    const auto error = errorOf([&] { request.send(Orvex::toWireBytes(QStringLiteral("<JobPosting/>"))); });
    QVERIFY(error);
    QCOMPARE(error->number(), ErrorNumber::NameNotResolved);
    QCOMPARE(request.failedDelivery(), DeliveryClass::NotSent);
}

void TestCurlHttpRequest::openRejects_data() {
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("async");
    QTest::addColumn<qint32>("number");

    const QString url = QStringLiteral("http://127.0.0.1/cgi-bin/importJobs_xml.cgi");
    QTest::newRow("asynchronous") << QStringLiteral("POST") << url << true << ErrorNumber::NotImplemented;
    QTest::newRow("other method") << QStringLiteral("PUT") << url << false << ErrorNumber::InvalidArgument;
    QTest::newRow("empty method") << QString() << url << false << ErrorNumber::InvalidArgument;
    QTest::newRow("ftp scheme") << QStringLiteral("POST") << QStringLiteral("ftp://127.0.0.1/x") << false
                                << ErrorNumber::UnsupportedScheme;
    QTest::newRow("file scheme") << QStringLiteral("POST") << QStringLiteral("file:///etc/passwd") << false
                                 << ErrorNumber::InvalidUrl;
    QTest::newRow("no host") << QStringLiteral("POST") << QStringLiteral("http:///x") << false
                             << ErrorNumber::InvalidUrl;
    QTest::newRow("not a URL") << QStringLiteral("POST") << QStringLiteral("jobs board") << false
                               << ErrorNumber::InvalidUrl;
}

void TestCurlHttpRequest::openRejects() {
    QFETCH(QString, method);
    QFETCH(QString, url);
    QFETCH(bool, async);
    QFETCH(qint32, number);

    CurlHttpRequest request;
    const auto error = errorOf([&] { request.open(method, url, async); });
    QVERIFY(error);
    QCOMPARE(error->number(), number);
    QCOMPARE(request.readyState(), 0);
}

void TestCurlHttpRequest::stateFollowsOpenAndSend() {
    BoardProcess board;
    QVERIFY2(board.start(), qPrintable(board.errorString()));

    CurlHttpRequest request;
    QCOMPARE(request.readyState(), 0);
    QCOMPARE(errorOf([&] { request.send(QByteArray()); })->number(), ErrorNumber::Unexpected);
    request.open(QStringLiteral("post"), board.endpointUrl(), false);
    QCOMPARE(request.readyState(), 1);
    QCOMPARE(errorOf([&] { request.status(); })->number(), ErrorNumber::Pending);
    QCOMPARE(errorOf([&] { request.responseText(); })->number(), ErrorNumber::Pending);
    request.send(Orvex::toWireBytes(listingWithFault(QStringLiteral("Add"), QString())));
    QCOMPARE(request.readyState(), 4);
    QCOMPARE(request.responseText(), QStringLiteral("success=1&jobid=1"));
    // A completed request must be opened again before it sends again.
    QCOMPARE(errorOf([&] { request.send(QByteArray()); })->number(), ErrorNumber::Unexpected);
    request.open(QStringLiteral("POST"), board.endpointUrl(), false);
    request.send(Orvex::toWireBytes(listingWithFault(QStringLiteral("Add"), QString())));
    QCOMPARE(request.responseText(), QStringLiteral("success=1&jobid=2"));
}

void TestCurlHttpRequest::replyDecoding_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QString>("text");

    const QString cafe = QStringLiteral("caf\u00e9 \u20ac");
    QTest::newRow("no content type means UTF-8")
        << QByteArray("caf\xc3\xa9 \xe2\x82\xac") << QByteArray() << cafe;
    QTest::newRow("charset in any letter case")
        << QByteArray("caf\xe9 \x80") << QByteArray("TEXT/PLAIN; CHARSET=Windows-1252") << cafe;
    QTest::newRow("quoted charset") << QByteArray("caf\xe9 \x80")
                                    << QByteArray("text/plain; format=flowed; charset=\"windows-1252\"")
                                    << cafe;
    QTest::newRow("latin-1 label") << QByteArray("caf\xe9") << QByteArray("text/plain;charset=ISO-8859-1")
                                   << QStringLiteral("caf\u00e9");
    QTest::newRow("byte order mark without charset")
        << QByteArray("\xff\xfe"
                      "c\0a\0f\0\xe9\0",
                      10)
        << QByteArray("text/plain") << QStringLiteral("caf\u00e9");
    QTest::newRow("invalid UTF-8 replaced")
        << QByteArray("a\xff"
                      "b")
        << QByteArray("text/plain; charset=utf-8") << QStringLiteral("a\uFFFDb");
    QTest::newRow("unknown charset falls back to UTF-8")
        << QByteArray("caf\xc3\xa9") << QByteArray("text/plain; charset=klingon")
        << QStringLiteral("caf\u00e9");
    QTest::newRow("empty charset falls back to UTF-8")
        << QByteArray("caf\xc3\xa9") << QByteArray("text/plain; charset=") << QStringLiteral("caf\u00e9");
}

void TestCurlHttpRequest::replyDecoding() {
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, contentType);
    QFETCH(QString, text);

    QCOMPARE(CurlHttpRequest::decodeReply(body, contentType), text);
}

void TestCurlHttpRequest::keptConnectionAge_data() {
    QTest::addColumn<QByteArray>("keepAlive"); // the board's Keep-Alive header; empty for none
    // CURLOPT_MAXAGE_CONN: a connection idle for more whole seconds than this is not used again; -1: none is.
    QTest::addColumn<long>("maxAge");

    const long capped = long(Orvex::CurlConnectionShare::MaxIdle.count()) - 1;
    QTest::newRow("no header: the component's own limit") << QByteArray() << capped;
    QTest::newRow("one second: only within that second") << QByteArray("timeout=1") << 0L;
    QTest::newRow("with max, spaces and letter case") << QByteArray("Max=100, Timeout = 2") << 1L;
    QTest::newRow("zero: never again") << QByteArray("timeout=0") << -1L;
    QTest::newRow("longer than the component's limit") << QByteArray("timeout=300") << capped;
    QTest::newRow("not a number") << QByteArray("timeout=soon") << capped;
    QTest::newRow("negative") << QByteArray("timeout=-5") << capped;
    QTest::newRow("no timeout parameter") << QByteArray("max=100") << capped;
}

void TestCurlHttpRequest::keptConnectionAge() {
    QFETCH(QByteArray, keepAlive);
    QFETCH(long, maxAge);
    using Orvex::CurlConnectionShare;
    const long announced = keepAlive.isEmpty() ? -1 : CurlConnectionShare::announcedTimeout(keepAlive);
    QCOMPARE(CurlConnectionShare::maxAgeFor(announced), maxAge);
}

QTEST_GUILESS_MAIN(TestCurlHttpRequest)
#include "tst_curlhttprequest.moc"
