#include "callqueue.h"

#include "automationerror.h"
#include "buswire.h"
#include "errortable.h"
#include "serverlogging.h"
#include "urltext.h"

#include <QDBusContext>
#include <QTimer>

#include <new>

namespace Orvex {

namespace {

QDBusMessage endedReplyTo(const QDBusMessage &message) {
    const AutomationError error = AutomationError::runtime(ErrorNumber::Ended);
    return message.createErrorReply(BusWire::errorName(error), BusWire::errorMessage(error));
}

} // namespace

QDBusMessage replyTo(const QDBusMessage &message, const std::function<QVariantList()> &work) {
    try {
        return message.createReply(work());
    } catch (const AutomationError &error) {
        qCDebug(lcServer) << message.member()
                          << "failed:" << withoutUserInfo(QString::fromUtf8(error.what()));
        return message.createErrorReply(BusWire::errorName(error), BusWire::errorMessage(error));
    } catch (const std::bad_alloc &) {
        const AutomationError error = AutomationError::runtime(ErrorNumber::OutOfMemory);
        return message.createErrorReply(BusWire::errorName(error), BusWire::errorMessage(error));
    } catch (const std::exception &failure) {
        // Not ours to raise, but one bad call must not take every client's objects down with the process.
        qCWarning(lcServer) << message.member() << "failed unexpectedly:"
                            << withoutUserInfo(QString::fromLocal8Bit(failure.what()));
        const AutomationError error = AutomationError::runtime(ErrorNumber::Unspecified);
        return message.createErrorReply(BusWire::errorName(error), BusWire::errorMessage(error));
    }
}

CallQueue::CallQueue(QObject *parent)
    : QObject(parent) {}

void CallQueue::serve(QDBusContext &context, Work work, Then then) {
    context.setDelayedReply(true);
    if (m_closed) {
        answerEnded(context.connection(), context.message());
        return;
    }
    Call call{context.message(), context.connection(), std::move(work), std::move(then)};
    if (m_running || !m_waiting.empty()) {
        qCDebug(lcServer) << "delaying" << call.message.member() << "until the calls before it are done";
        m_waiting.push_back(std::move(call));
        return;
    }
    run(std::move(call));
}

void CallQueue::answerEnded(const QDBusConnection &connection, const QDBusMessage &message) {
    ++m_endedCount;
    if (message.isReplyRequired())
        QDBusConnection(connection).send(endedReplyTo(message));
}

void CallQueue::close() {
    m_closed = true;
    for (const Call &call : std::exchange(m_waiting, {}))
        answerEnded(call.connection, call.message);
}

void CallQueue::run(Call call) {
    m_running = true;
    const QDBusMessage reply = replyTo(call.message, call.work);
    m_running = false;
    // Answered even when the process began to end meanwhile: the call did run.
    if (call.message.isReplyRequired())
        call.connection.send(reply);
    if (call.then && !m_closed)
        call.then();
    Q_EMIT finished();
    scheduleNext();
}

void CallQueue::scheduleNext() {
    // From the event loop rather than from here, so a waiting call never runs inside the one that
    // just finished (which may itself sit in a nested event loop).
    if (m_waiting.empty() || m_nextScheduled || m_closed)
        return;
    m_nextScheduled = true;
    QTimer::singleShot(0, this, &CallQueue::runNext);
}

void CallQueue::runNext() {
    m_nextScheduled = false;
    if (m_running || m_waiting.empty() || m_closed)
        return;
    Call call = std::move(m_waiting.front());
    m_waiting.pop_front();
    run(std::move(call));
}

} // namespace Orvex
