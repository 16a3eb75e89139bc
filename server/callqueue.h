#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QVariantList>

#include <deque>
#include <functional>

class QDBusContext;

namespace Orvex {

// Serves each object's bus calls one at a time, in arrival order: a call that arrives while one to the same
// object is under way (a posting answers later) gets a delayed reply and runs once the calls before it have
// been answered. Objects do not wait for each other, and no call ever runs inside another.
// The reply to message: what work returns, or the error it throws. Every call's errors become replies here.
QDBusMessage replyTo(const QDBusMessage &message, const std::function<QVariantList()> &work);

class CallQueue final : public QObject {
    Q_OBJECT

public:
    // The reply's arguments; an AutomationError becomes the call's error.
    using Work = std::function<QVariantList()>;
    // Runs after the reply has gone out.
    using Then = std::function<void()>;
    // Answers the call once: the reply's arguments are what result returns, or its error what it throws.
    using Answer = std::function<void(const Work &result)>;
    // Starts a call that is answered later; an AutomationError it throws is the call's answer at once.
    using Start = std::function<void(const Answer &answer)>;

    explicit CallQueue(QObject *parent = nullptr);

    // Takes over the reply of the call being delivered through context; the object is the call's path.
    void serve(QDBusContext &context, Work work, Then then = {});
    // The same for a call whose work finishes later: the object's next call waits until it is answered.
    void serveLater(QDBusContext &context, Start start);
    // The process is ending: every waiting call, and every call that arrives from now on, is answered
    // with the Ended error without running. A call that is running finishes and is answered.
    void close();
    bool isClosed() const { return m_closed; }
    // Whether a call to any object is under way.
    bool isRunning() const { return !m_running.isEmpty(); }
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
        Start start;
        Then then;
    };

    void take(QDBusContext &context, Start start, Then then);
    void run(Call call);
    void answered(const Call &call, const QDBusMessage &reply);
    void scheduleNext(const QString &object);
    void runNext(const QString &object);

    // By object path: the calls waiting behind the one under way.
    QHash<QString, std::deque<Call>> m_waiting;
    QSet<QString> m_running;
    bool m_closed = false;
    int m_endedCount = 0;
};

} // namespace Orvex
