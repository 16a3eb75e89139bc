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
    take(
        context, [work = std::move(work)](const Answer &answer) { answer(work); }, std::move(then));
}

void CallQueue::serveLater(QDBusContext &context, Start start) {
    take(context, std::move(start), {});
}

void CallQueue::take(QDBusContext &context, Start start, Then then) {
    context.setDelayedReply(true);
    if (m_closed) {
        answerEnded(context.connection(), context.message());
        return;
    }
    Call call{context.message(), context.connection(), std::move(start), std::move(then)};
    const QString object = call.message.path();
    if (m_running.contains(object) || !m_waiting.value(object).empty()) {
        qCDebug(lcServer) << "delaying" << call.message.member() << "until the calls before it are done";
        m_waiting[object].push_back(std::move(call));
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
    for (const std::deque<Call> &calls : std::exchange(m_waiting, {})) {
        for (const Call &call : calls)
            answerEnded(call.connection, call.message);
    }
}

void CallQueue::run(Call call) {
    m_running.insert(call.message.path());
    auto isAnswered = std::make_shared<bool>(false);
    const Answer answer = [this, call, isAnswered](const Work &result) {
        if (std::exchange(*isAnswered, true))
            return;
        answered(call, replyTo(call.message, result));
    };
    // What start throws before it has answered is the answer.
    const QDBusMessage refusal = replyTo(call.message, [&] {
        call.start(answer);
        return QVariantList{};
    });
    if (refusal.type() == QDBusMessage::ErrorMessage && !*isAnswered) {
        *isAnswered = true;
        answered(call, refusal);
    }
}

void CallQueue::answered(const Call &call, const QDBusMessage &reply) {
    const QString object = call.message.path();
    m_running.remove(object);
    // Answered even when the process began to end meanwhile: the call did run.
    if (call.message.isReplyRequired())
        QDBusConnection(call.connection).send(reply);
    if (call.then && !m_closed)
        call.then();
    Q_EMIT finished();
    scheduleNext(object);
}

void CallQueue::scheduleNext(const QString &object) {
    // From the event loop rather than from here, so a waiting call never runs inside the one that just
    // finished.
    if (m_waiting.value(object).empty() || m_closed)
        return;
    QTimer::singleShot(0, this, [this, object] { runNext(object); });
}

void CallQueue::runNext(const QString &object) {
    const auto waiting = m_waiting.find(object);
    if (m_running.contains(object) || waiting == m_waiting.end() || m_closed)
        return;
    Call call = std::move(waiting->front());
    waiting->pop_front();
    if (waiting->empty())
        m_waiting.erase(waiting);
    run(std::move(call));
}

} // namespace Orvex
