#include "automationerror.h"
#include "backgroundhttprequest.h"

#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// Answers at once, or only once the caller's event loop has run, as a slow board would let it; fails
// if told to.
class FakeRequest final : public Orvex::HttpRequest {
public:
    FakeRequest(const std::atomic<bool> &loopRan, bool needsLoop, bool fails)
        : m_loopRan(loopRan)
        , m_needsLoop(needsLoop)
        , m_fails(fails) {}

    void open(const QString &, const QString &, bool) override { m_readyState = 1; }
    void send(const QByteArray &) override {
        while (m_needsLoop && !m_loopRan)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (m_fails)
            throw Orvex::AutomationError(-1, QStringLiteral("fake"), QStringLiteral("board gone"));
        m_readyState = 4;
    }
    int readyState() const override { return m_readyState; }
    int status() const override { return 200; }
    QString responseText() const override { return QString(); }
    QString getResponseHeader(const QString &) const override { return QString(); }
    Orvex::DeliveryClass failedDelivery() const override { return Orvex::DeliveryClass::Unknown; }

private:
    const std::atomic<bool> &m_loopRan;
    bool m_needsLoop;
    bool m_fails;
    int m_readyState = 0;
};

} // namespace

class TestBackgroundHttpRequest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void sendsOnTheWorker_data();
    void sendsOnTheWorker();
    void sendReturnsWhenTheApplicationExitsDuringTheExchange();
};

void TestBackgroundHttpRequest::sendsOnTheWorker_data() {
    QTest::addColumn<bool>("needsLoop");
    QTest::addColumn<bool>("fails");

    QTest::newRow("quick answer") << false << false;
    QTest::newRow("quick failure reaches the caller") << false << true;
    QTest::newRow("answer that waits for the caller's loop") << true << false;
    QTest::newRow("failure after the caller's loop ran") << true << true;
}

void TestBackgroundHttpRequest::sendsOnTheWorker() {
    QFETCH(bool, needsLoop);
    QFETCH(bool, fails);

    std::atomic<bool> loopRan = false;
    QList<bool> inFlight;
    const Orvex::HttpRequestFactory factory = Orvex::backgroundHttpRequestFactory(
        [&](const Orvex::HttpSettings &) { return std::make_unique<FakeRequest>(loopRan, needsLoop, fails); },
        [&](bool exchanging) { inFlight.append(exchanging); });
    // Twice, so the second exchange runs on the worker the first one started.
    for (int exchange = 0; exchange < 2; ++exchange) {
        loopRan = false;
        QObject context;
        QTimer::singleShot(0, &context, [&] { loopRan = true; });
        const std::unique_ptr<Orvex::HttpRequest> request = factory({});
        request->open(QStringLiteral("POST"), QStringLiteral("http://board.example/"), false);
        bool failed = false;
        try {
            request->send("<JobPosting/>");
        } catch (const Orvex::AutomationError &error) {
            failed = error.description() == u"board gone";
        }
        QCOMPARE(failed, fails);
        QCOMPARE(request->readyState(), fails ? 1 : 4);
    }
    QCOMPARE(inFlight, QList<bool>({true, false, true, false}));
}

// The application's exit ends the caller's loop while the exchange still runs: send() waits for the
// exchange, then returns, instead of leaving the worker with a frame that is gone or waiting for ever.
void TestBackgroundHttpRequest::sendReturnsWhenTheApplicationExitsDuringTheExchange() {
    std::atomic<bool> exited = false;
    std::atomic<bool> exchangeOver = false;
    // Ends only once the loop has been told to end, and some time after, so send() is already waiting.
    class OutlivesTheLoop final : public Orvex::HttpRequest {
    public:
        OutlivesTheLoop(const std::atomic<bool> &exited, std::atomic<bool> &over)
            : m_exited(exited)
            , m_over(over) {}
        void open(const QString &, const QString &, bool) override {}
        void send(const QByteArray &) override {
            while (!m_exited)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            m_over = true;
        }
        int readyState() const override { return 4; }
        int status() const override { return 200; }
        QString responseText() const override { return QString(); }
        QString getResponseHeader(const QString &) const override { return QString(); }
        Orvex::DeliveryClass failedDelivery() const override { return Orvex::DeliveryClass::NotSent; }

    private:
        const std::atomic<bool> &m_exited;
        std::atomic<bool> &m_over;
    };

    const Orvex::HttpRequestFactory factory = Orvex::backgroundHttpRequestFactory(
        [&](const Orvex::HttpSettings &) { return std::make_unique<OutlivesTheLoop>(exited, exchangeOver); },
        {});
    QTimer::singleShot(0, qApp, [&] {
        QCoreApplication::exit(0);
        exited = true;
    });
    const std::unique_ptr<Orvex::HttpRequest> request = factory({});
    request->send("<JobPosting/>");
    QVERIFY(exchangeOver);

    // The exit holds every later loop of this thread until the application's own loop has run.
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

QTEST_GUILESS_MAIN(TestBackgroundHttpRequest)
#include "tst_backgroundhttprequest.moc"
