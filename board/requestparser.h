#pragma once

#include "boardrequest.h"

#include <QByteArray>

#include <optional>

namespace Orvex {

// Reads a request head: the request line and the header lines, without the blank line that ends them.
// Fills in everything of the request but its body, and the body's length. Returns the reply to send
// instead when the head is refused.
std::optional<BoardReply> parseRequestHead(const QByteArray &head, BoardRequest *request, qint64 *bodyLength);

} // namespace Orvex
