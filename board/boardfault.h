#pragma once

#include <QAbstractSocket>
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
        CloseAtRandom,     // close-at-random:PERCENT
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
        SlowRedirect,      // slow-redirect:MS
        Gzip,              // gzip
        Deflate,           // deflate
        Trickle,           // trickle
        Nul,               // nul
    };

    // Just above the request object's default reply cap of 8 MiB.
    static constexpr qint64 DefaultHugeBytes = 9 * 1024 * 1024;

    Kind kind = Kind::None;
    int code = 0;     // status or redirect code; delay in milliseconds (of each hop for a slow redirect)
    qint64 bytes = 0; // size of a huge reply
    QByteArray text;  // body of a status fault; charset name

    // nullopt for a name the board does not know; an empty name is no fault.
    static std::optional<BoardFault> parse(const QString &name);
    // One line per fault, for --help.
    static QString catalogue();
};

// The body with the content coding of a Gzip or Deflate fault, for a Content-Encoding of that name.
QByteArray gzipEncoded(const QByteArray &body);
QByteArray deflateEncoded(const QByteArray &body);

// The reply of a Trickle fault, after its head: body, then padding for ever, a few bytes a second: fast
// enough that no stall limit ever trips, so only a limit on the whole exchange ends it. Stops when the
// client leaves.
void startTrickle(QAbstractSocket *socket, const QByteArray &body);

} // namespace Orvex
