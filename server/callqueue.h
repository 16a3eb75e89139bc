#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QVariantList>

#include <deque>
#include <functional>

class QDBusContext;

namespace Orvex {

// Serves bus calls one at a time, in arrival order, on the one thread. A call that arrives while another
// runs (the warning box and a blocking send both let the bus deliver meanwhile) gets a delayed reply
// and runs once the calls before it have finished, so no call ever runs inside another.
// The reply to message: what work returns, or the error it throws. Every call's errors become replies here.
QDBusMessage replyTo(const QDBusMessage &message, const std::function<QVariantList()> &work);

class CallQueue final : public QObject {
    Q_OBJECT

public:
    // The reply's arguments; an AutomationError becomes the call's error.
    using Work = std::function<QVariantList()>;
    // Runs after the reply has gone out.
    using Then = std::function<void()>;

    explicit CallQueue(QObject *parent = nullptr);

    // Takes over the reply of the call being delivered through context.
    void serve(QDBusContext &context, Work work, Then then = {});
    // The process is ending: every waiting call, and every call that arrives from now on, is answered
    // with the Ended error without running. A call that is running finishes and is answered.
    void close();
    bool isClosed() const { return m_closed; }
    bool isRunning() const { return m_running; }
    // Answers a call that never ran with the Ended error, and counts it.
    void answerEnded(const QDBusConnection &connection, const QDBusMessage &message);
    // How many calls were answered Ended so far.
    int endedCount() const { return m_endedCount; }

Q_SIGNALS:
    // A call has run and its reply has gone out.
    void finished();

private:
    struct Call {
        QDBusMessage message;
        QDBusConnection connection;
        Work work;
        Then then;
    };

    void run(Call call);
    void scheduleNext();
    void runNext();

    std::deque<Call> m_waiting;
    bool m_running = false;
    bool m_nextScheduled = false;
    bool m_closed = false;
    int m_endedCount = 0;
};

} // namespace Orvex
