#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace Orvex {

// A misbehaviour the board puts on when asked, so clients can be tested against it. The names are
// listed in README.md and in --help.
struct BoardFault {
    enum class Kind {
        None,
        Status,            // status:CODE[:BODY]
        Empty,             // empty
        QuotedAmpersand,   // quoted-amp
        TrailingCrLf,      // crlf
        NoJobId,           // no-jobid
        Failure,           // failure
        CloseBeforeStatus, // close-before-status
        CloseMidBody,      // close-mid-body
        Reset,             // reset
        Drip,              // drip
        Huge,              // huge[:BYTES]
        HugeUnsized,       // huge-unsized[:BYTES]
        RedirectLoop,      // redirect-loop
        Redirect,          // redirect:CODE
        RedirectTo,        // redirect-to:URL
        Charset,           // charset:NAME
        Binary,            // binary
        Garbage,           // garbage
        Delay,             // delay:MS
    };

    // Just above the request object's default reply cap of 8 MiB.
    static constexpr qint64 DefaultHugeBytes = 9 * 1024 * 1024;

    Kind kind = Kind::None;
    int code = 0;     // status or redirect code; delay in milliseconds
    qint64 bytes = 0; // size of a huge reply
    QByteArray text;  // body of a status fault; charset name

    // nullopt for a name the board does not know; an empty name is no fault.
    static std::optional<BoardFault> parse(const QString &name);
    // One line per fault, for --help.
    static QString catalogue();
};

} // namespace Orvex
