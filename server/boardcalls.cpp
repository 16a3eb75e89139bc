#include "boardcalls.h"

#include "callqueue.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>

namespace Orvex {

namespace {

QDBusMessage outcomeReply(const QDBusMessage &message, const PostingOutcome &outcome) {
    return message.createReply({outcome.resultCode, outcome.httpStatus, int(outcome.errorNumber),
                                outcome.errorDescription, outcome.reply,
                                deliveryClassName(outcome.deliveryClass)});
}

} // namespace

BoardCalls::BoardCalls(CallQueue &calls, PostingEngine &engine)
    : m_calls(calls)
    , m_engine(engine) {}

void BoardCalls::serve(QDBusContext &context, const std::function<PostingEngine::Listing()> &listing) {
    context.setDelayedReply(true);
    const QDBusMessage message = context.message();
    const QDBusConnection connection = context.connection();
    if (m_calls.isClosed() || m_engine.isClosed()) {
        m_calls.answerEnded(connection, message);
        return;
    }
    const auto answer = [this, message, connection](std::optional<PostingOutcome> outcome) {
        if (!outcome) {
            m_calls.answerEnded(connection, message);
            return;
        }
        if (message.isReplyRequired())
            QDBusConnection(connection).send(outcomeReply(message, *outcome));
    };
    // Only a refused call is answered here; an accepted one is answered by its posting.
    const QDBusMessage refusal = replyTo(message, [&] {
        m_engine.post(listing(), answer);
        return QVariantList{};
    });
    if (refusal.type() == QDBusMessage::ErrorMessage && message.isReplyRequired())
        QDBusConnection(connection).send(refusal);
}

} // namespace Orvex
