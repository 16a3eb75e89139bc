#pragma once

#include <QString>

namespace Orvex {

// Why a journal database refused a call: the engine's own code and words, kept all the way to the caller.
struct DatabaseError {
    int code = 0; // the engine's result code; 0 while nothing failed
    QString message;

    bool isSet() const { return code != 0 || !message.isEmpty(); }
};

} // namespace Orvex
