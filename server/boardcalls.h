#pragma once

#include "postingengine.h"

#include <functional>

class QDBusContext;

namespace Orvex {

class CallQueue;

// Serves PostToBoard beside the call queue: each call goes to the posting engine as it arrives, so calls to
// boards with room run side by side, and its reply goes out from this thread once its posting is done.
class BoardCalls {
public:
    BoardCalls(CallQueue &calls, PostingEngine &engine);

    // Takes over the reply of the call being delivered through context. listing() throws AutomationError
    // for a call that cannot be posted (an unknown board, a field too long): that is the call's reply.
    void serve(QDBusContext &context, const std::function<PostingEngine::Listing()> &listing);

private:
    CallQueue &m_calls;
    PostingEngine &m_engine;
};

} // namespace Orvex
